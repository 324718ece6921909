// What an operation outside the registry calls answers (opening a hive,
// reading and writing files): success, or a code that says what kind of
// failure it was, for the caller to act on, and a one-line message for a
// person. The registry calls themselves answer Win32 codes (Registry.h).
#pragma once

#include <string>
#include <utility>

namespace zandrel::status {

struct Status {
  enum Code {
    kOk,
    kNotFound,  // the file is not there
    kNotAFile,  // a folder or a device where a file belongs
    kTooLarge,  // more bytes than the caller takes
    kFailed,    // the system refused or failed the operation
  };

  Status() = default;
  Status(Code c, std::string m) : code(c), message(std::move(m)) {}

  bool Ok() const { return code == kOk; }

  Code code = kOk;
  std::string message;  // "" when Ok()
};

}  // namespace zandrel::status
