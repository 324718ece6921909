// The program field read as the file it names, and whether a file can be
// read: the check the writer makes of a program path.
#pragma once

#include <string>

namespace zandrel::store {

// True when `path` names a file that can be opened for reading; false for any
// error (missing, a folder, empty or malformed path, no read permission). The
// file is opened and closed again at once, never created or changed.
bool FileExists(const std::string& path);

// The program field as the file it names: trimmed of spaces, one pair of
// enclosing double quotes dropped (Explorer's "Copy as path" gives them), and
// on Windows each %NAME% of a set environment variable replaced by its value
// (an unset one stays as written, as Windows leaves it).
std::string ProgramPath(const std::string& typed);

}  // namespace zandrel::store
