// The desktop view computed with GIO in this process: for the helper program
// only, as GIO's caches in a process that lives on go stale.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "freedesktop/DesktopProjection.h"
#include "freedesktop/DesktopView.h"

namespace zandrel::freedesktop {

// Every extension the MIME databases of `paths` map by a simple glob "*.E"
// whose type (as GIO guesses it for "x.E") has a default application, in the
// order of the extensions' names. Zandrel's private types and its own
// projected entries are left out, so nothing it wrote is read back; so are
// names that cannot be key names (a "\", more than 255 characters). The types
// in `described` are given without their description. With `changed` (the
// types of the mimeapps.list lines that changed since the caller's last
// view), only the extensions whose type is one of them or of their subtypes
// or aliases, and for those without a program now, a row of the extension
// alone.
std::vector<ViewRow> ReadDesktopView(const XdgPaths& paths, const std::set<std::string>& described,
                                     const std::set<std::string>* changed);

// What decides the program that opens files named "x.E" here, one step a
// line: the glob and its type (and the alias or parent type that decided),
// each mimeapps.list consulted with the lines that decided, the desktop
// entry's file and Exec, and the view's row. `extension` has its dot.
std::string ExplainExtension(const XdgPaths& paths, const std::string& extension);

}  // namespace zandrel::freedesktop
