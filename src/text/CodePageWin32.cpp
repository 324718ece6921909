#include "text/CodePage.h"

#include <windows.h>

namespace zandrel::text {

unsigned SystemAnsiCodePage() {
  // GetACP() answers the manifest's UTF-8; regedit reads by the system
  // locale. (GetLocaleInfoEx with LOCALE_NAME_SYSTEM_DEFAULT fails under Wine.)
  DWORD code_page = 0;
  if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPWSTR>(&code_page), sizeof code_page / sizeof(WCHAR)) == 0 ||
      code_page == 0 || code_page == CP_UTF8)
    return 1252;
  return code_page;
}

bool AppendCodePageAsUtf8(std::string_view bytes, unsigned code_page, std::string* out, std::size_t* bad) {
  if (bytes.empty()) return true;
  const int size = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  const int units = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), size);
  if (units == 0) {
    // The call names no position: the first character (one byte, or a lead
    // byte and its trail in a double-byte code page) that alone fails.
    for (*bad = 0; *bad < bytes.size();) {
      const int length = IsDBCSLeadByteEx(code_page, static_cast<BYTE>(bytes[*bad])) && *bad + 1 < bytes.size() ? 2 : 1;
      if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data() + *bad, length, wide.data(), 2) == 0) break;
      *bad += static_cast<std::size_t>(length);
    }
    return false;
  }
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  const std::size_t start = out->size();
  out->resize(start + static_cast<std::size_t>(length));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out->data() + start, length, nullptr, nullptr);
  return true;
}

}  // namespace zandrel::text
