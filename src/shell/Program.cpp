#include "shell/Program.h"

#include <iostream>
#include <memory>
#include <string>

#include "assembly/Stack.h"
#include "manager/frmZandrel.h"
#include "shell/Forms.h"

namespace zandrel::shell {

int RunProgram(ui::Platform& platform, const std::function<int()>& loop) {
  // A desktop's view that cannot be read leaves the store's own rows, and the
  // list says why; so does stderr, here, as for files that could not follow
  // a change.
  assembly::Options options;
  options.log = [](const std::string& failure) { std::cerr << "zandrel: desktop associations: " << failure << "\n"; };
  std::unique_ptr<assembly::Stack> stack;
  const status::Status opened = assembly::Open(assembly::Mode::kWrite, &stack, options);
  if (!opened.Ok()) {
    // The stop icon, as the end on a run-time error shows.
    platform.MsgBox("Не удаётся открыть реестр: " + assembly::OpenFailure(opened), MB_OK | MB_ICONSTOP);
    return 1;
  }

  Forms forms(platform, stack->Desktop().Classes(),
              manager::frmZandrel::CreatorWith(&stack->History(), &stack->Desktop()));
  platform.Dispatch([&forms] { forms.ShowSplash(); });
  return loop();
}

}  // namespace zandrel::shell
