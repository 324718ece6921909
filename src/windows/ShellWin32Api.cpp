// The one file of the Windows desktop that includes <windows.h>.
#include "windows/ShellWin32Api.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace zandrel::windows {
namespace {

std::int32_t AssocOpenCommand(const char* extension, std::string* command) {
  ::DWORD size = 0;
  HRESULT result = AssocQueryStringA(ASSOCF_NONE, ASSOCSTR_COMMAND, extension, "open", nullptr, &size);
  if (result != S_FALSE && FAILED(result)) return static_cast<std::int32_t>(result);
  std::string text(size + 1, '\0');
  size = static_cast<::DWORD>(text.size());
  result = AssocQueryStringA(ASSOCF_NONE, ASSOCSTR_COMMAND, extension, "open", text.data(), &size);
  if (FAILED(result)) return static_cast<std::int32_t>(result);
  text.resize(text.find('\0'));
  *command = text;
  return 0;
}

}  // namespace

Shell SystemShell() {
  return Shell{[] { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); },
               [](const std::string& extension, std::string* command, std::int32_t* code) {
                 *code = AssocOpenCommand(extension.c_str(), command);
                 return *code == 0;
               }};
}

}  // namespace zandrel::windows
