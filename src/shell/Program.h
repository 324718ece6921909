// The window program's start, the same on every system: the program's stack
// (assembly/) and the splash window. Each system's main makes its window
// system and hands it here with its event loop.
#pragma once

#include <functional>

#include "ui/Platform.h"

namespace zandrel::shell {

// Opens the stack for changes and shows the splash over `platform`, then runs
// `loop` (the window system's event loop) and gives its exit status.
// Everything else is driven by the windows: the loop ends when the last of
// them closes, or when an uncaught error has been shown. A stack that cannot
// be opened is said in a message box: 1.
int RunProgram(ui::Platform& platform, const std::function<int()>& loop);

}  // namespace zandrel::shell
