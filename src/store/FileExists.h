// Whether a file can be read: the check the writer makes of a program path.
#pragma once

#include <string>

namespace zandrel::store {

// True when `path` names a file that can be opened for reading; false for any
// error (missing, a folder, empty or malformed path, no read permission). The
// file is opened and closed again at once, never created or changed.
bool FileExists(const std::string& path);

}  // namespace zandrel::store
