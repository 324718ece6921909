// zandrel-reg's console on Windows.
#include "registry/win32/Win32Api.h"
#include "shell/reg/Verb.h"

namespace zandrel::shell::reg {

bool Write(int stream, const std::string& text) { return win32::api::WriteStandard(stream, text); }

const char* LineEnd() { return "\r\n"; }

void PrepareProcess() { win32::api::LoadDllsFromSystem32Only(); }

}  // namespace zandrel::shell::reg
