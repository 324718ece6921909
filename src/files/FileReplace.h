// Writing a file whole, so that no reader and no crash ever meets half of it:
// the new bytes go to a temporary file beside the old one, are flushed to
// disk, and the finished file then takes the old one's place in one step. A
// failure at any point leaves the old file as it was (and no temporary file).
#pragma once

#include <string>

#include "status/Status.h"

namespace zandrel::files {

// Writes `bytes` as the file `path`. Fails with kNotAFile "is a folder, not
// a file", or kFailed "cannot write the file: " and the system's reason. A symbolic link is followed: the file it names is replaced. A
// device or a pipe is written in place, as it cannot be replaced. A new file
// gets the mode a plain create would give; an existing one keeps its mode.
status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes);

// The last step: puts the finished `temporary` in the place of `path`.
// Returns 0 or the system's error number. Tests pass one that fails.
using PutInPlace = int (*)(const std::string& temporary, const std::string& path);
status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes, PutInPlace put);

}  // namespace zandrel::files
