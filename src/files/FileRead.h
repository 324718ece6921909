// Reading a file whole, the counterpart of ReplaceFileWhole (FileReplace.h).
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "status/Status.h"

namespace zandrel::files {

// Reads the file at `path` into *bytes (replacing what it held). A pipe is
// read to its end. Fails with
//   kNotFound  "cannot read the file: " and the system's reason, when it is not there;
//   kNotAFile  "is a folder, not a file" or "is a device, not a file", before reading;
//   kTooLarge  when it holds more than `limit` bytes (*bytes is then cut short);
//   kFailed    "cannot read the file: " and the system's reason.
status::Status ReadFileWhole(const std::string& path, std::string* bytes,
                             std::size_t limit = std::numeric_limits<std::size_t>::max());

}  // namespace zandrel::files
