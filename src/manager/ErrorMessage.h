// The run-time error message box of the manager window.
#pragma once

#include <string>

#include "ui/Controls.h"
#include "ui/Platform.h"

namespace zandrel::manager {

// Reports the run-time error being handled: procedureName, CR LF, the error
// number in decimal, five spaces, its description; MB_OK, caption "Zandrel".
// Returns when the user has closed the box.
void ShowErrorMessage(ui::Platform& platform, const std::string& procedureName, const ui::RuntimeError& error);

}  // namespace zandrel::manager
