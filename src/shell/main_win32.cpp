// The program on Windows: the Win32 window system over the program's stack
// (assembly/), and the splash window. As on Linux, everything else is driven
// by the windows; the process ends when the last of them closes, or when an
// uncaught error has been shown.
#include <memory>
#include <string>

#include "assembly/Stack.h"
#include "manager/frmZandrel.h"
#include "registry/win32/Win32Api.h"
#include "shell/Forms.h"
#include "ui/win32/Win32Platform.h"

int main() {
  zandrel::win32::api::LoadDllsFromSystem32Only();
  zandrel::ui::win32::Win32Platform platform;

  std::unique_ptr<zandrel::assembly::Stack> stack;
  const zandrel::status::Status opened = zandrel::assembly::Open(zandrel::assembly::Mode::kWrite, &stack);
  if (!opened.Ok()) {
    // The stop icon, as the end on a run-time error shows.
    platform.MsgBox("Не удаётся открыть реестр: " + zandrel::assembly::OpenFailure(opened),
                    zandrel::MB_OK | zandrel::MB_ICONSTOP);
    return 1;
  }

  zandrel::shell::Forms forms(platform, stack->Desktop().Classes(),
                              zandrel::manager::frmZandrel::CreatorWith(&stack->History(), &stack->Desktop()));
  platform.Dispatch([&forms] { forms.ShowSplash(); });
  return platform.Exec();
}
