// Writing a file whole, so that no reader and no crash ever meets half of it:
// the new bytes go to a temporary file beside the old one, are flushed to
// disk, and the finished file then takes the old one's place in one step. A
// failure at any point leaves the old file as it was (and no temporary file).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "status/Status.h"

namespace zandrel::files {

// Writes `bytes` as the file `path`. Fails with kNotAFile "is a folder, not
// a file", or kFailed "cannot write the file: " and the system's reason. A
// symbolic link is followed: the file it names is replaced. A device or a
// pipe is written in place, as it cannot be replaced. A new file gets the
// mode a plain create would give; an existing one keeps its mode.
status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes);

// The calls whose order makes a replacement safe, made in this order: write
// the new temporary file, flush it to disk, put it (closed) in the place of
// `path`, and on POSIX flush the folder, so that the rename itself outlives a
// crash (Windows' move writes through). Each returns 0 or the system's error
// number, except syncFolder, whose failure is not the caller's: the file is
// in place by then. SystemReplaceSteps() are the system's own; tests pass
// copies with steps that record the order or fail.
struct ReplaceSteps {
  using File = std::uintptr_t;                                    // the new file's descriptor, or its HANDLE on Windows
  std::function<int(File file, const std::string& bytes)> write;  // all of them
  std::function<int(File file)> flush;                            // fsync, FlushFileBuffers
  std::function<int(const std::string& temporary, const std::string& path)> put;  // rename, MoveFileExA
  std::function<void(const std::string& folder)> syncFolder;                      // POSIX only
};
const ReplaceSteps& SystemReplaceSteps();
status::Status ReplaceFileWhole(const std::string& path, const std::string& bytes, const ReplaceSteps& steps);

#ifndef _WIN32
// Removes what replacements in `folder` left when killed before their
// rename: temporary files named as ReplaceFileWhole names them
// (".NAME.zandrel-XXXXXX") whose NAME `own` accepts, untouched for a minute
// (no write takes as long, so none still being written goes).
void SweepTemporaries(const std::string& folder, const std::function<bool(const std::string&)>& own);
#endif

}  // namespace zandrel::files
