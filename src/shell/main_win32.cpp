// The program on Windows: the Win32 window system over the program's start
// (Program.h).
#include "registry/win32/Win32Api.h"
#include "shell/Program.h"
#include "ui/win32/Win32Platform.h"

int main() {
  zandrel::win32::api::LoadDllsFromSystem32Only();
  zandrel::ui::win32::Win32Platform platform;
  return zandrel::shell::RunProgram(platform, [&platform] { return platform.Exec(); });
}
