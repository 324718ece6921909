// What an operation outside the registry calls answers (opening a hive,
// importing and exporting .reg files, reading and writing files): success,
// or a code that says what kind of failure it was, for the caller to act on,
// and a one-line message for a person. What the operation makes (an opened
// hive, the bytes read) is handed out through a pointer argument, as
// LevelDB's Status does. The registry calls themselves answer Win32 codes
// (Registry.h), described by registry::DescribeCode.
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
    kInvalid,   // the content is not of its kind: not a hive, a .reg file refused
    kFailed,    // the system refused or failed the operation
  };

  Status() = default;
  Status(Code c, std::string m) : code(c), message(std::move(m)) {}

  bool Ok() const { return code == kOk; }

  Code code = kOk;
  std::string message;  // "" when Ok()
};

}  // namespace zandrel::status
