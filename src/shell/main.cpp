// The program: the Qt window system over the program's stack (assembly/),
// and the splash window. Everything else is driven by the windows; the
// process ends when the last of them closes, or when an uncaught error has
// been shown.
#include <iostream>
#include <memory>
#include <string>

#include "assembly/Stack.h"
#include "manager/frmZandrel.h"
#include "shell/Forms.h"
#include "ui/qt/QtPlatform.h"

int main(int argc, char** argv) {
  // The program takes no arguments: Qt is given the program name alone.
  int qtArgc = 1;
  char fallbackName[] = "zandrel";
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  zandrel::ui::qt::QtPlatform platform(qtArgc, qtArgv);

  // A desktop's view that cannot be read leaves the store's own rows, and the
  // list says why; so does stderr, here, as for files that could not follow
  // a change.
  zandrel::assembly::Options options;
  options.log = [](const std::string& failure) { std::cerr << "zandrel: desktop associations: " << failure << "\n"; };
  std::unique_ptr<zandrel::assembly::Stack> stack;
  const zandrel::status::Status opened = zandrel::assembly::Open(zandrel::assembly::Mode::kWrite, &stack, options);
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
