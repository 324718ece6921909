// The Windows shell's own calls behind the desktop's seam (WindowsDesktop.h).
#pragma once

#include "windows/WindowsDesktop.h"

namespace zandrel::windows {

// SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST) and
// AssocQueryStringA(ASSOCSTR_COMMAND) for the "open" verb.
Shell SystemShell();

}  // namespace zandrel::windows
