// The lines of the desktop's files a change touched (on Linux its
// mimeapps.list files, MIME package and desktop entries), kept in the history
// beside the record of its keys, so that an undo gives each file back byte
// for byte and refuses, as for a key, when a line it would put back was
// changed since. A line is kept with its own line end; a file's last line
// may have none.
//
// The history stores a file record as bytes, little-endian, a string as its
// u32 size and bytes:
//   "ZHF1" u32 files, then per file
//     string path  u8 existed (0: the change made it)  u8 remains (0: the change removed it)
//     u32 hunks, per hunk: u32 at  u32 before-lines, each a string  u32 after-lines, each a string
// A hunk's `at` is its first line in the file as the change left it; hunks
// come in the file's order and never overlap.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/Registry.h"
#include "status/Status.h"

namespace zandrel::capture {

struct FileHunk {
  std::size_t at = 0;               // the first line, in the file as the change left it
  std::vector<std::string> before;  // the lines the change found there
  std::vector<std::string> after;   // the lines it left in their place
  bool operator==(const FileHunk&) const = default;
};

struct FileEdit {
  std::string path;
  bool existed = true;  // false: the change made the file
  bool remains = true;  // false: the change removed it
  std::vector<FileHunk> hunks;
  bool operator==(const FileEdit&) const = default;
};

struct FileRecord {
  std::vector<FileEdit> files;
  bool Empty() const { return files.empty(); }
};

// A file's content, or nullopt for no file; files by path, each with one.
using FileContent = std::optional<std::string>;
using FileContents = std::vector<std::pair<std::string, FileContent>>;

// The lines of a text, each with its line end.
std::vector<std::string> SplitLines(std::string_view text);

// The edit that takes `path` from `before` to `after`: the lines that differ
// (a longest common run of lines kept between them); no hunks when equal.
FileEdit DiffFile(const std::string& path, const FileContent& before, const FileContent& after);

std::string EncodeFileRecord(const FileRecord& record);
// False for bytes that are not a whole record.
bool DecodeFileRecord(std::string_view bytes, FileRecord* record);

// The record of a change that undoes `record`'s.
FileRecord InverseFileRecord(const FileRecord& record);

// A file's content now; nullopt with *why set when it cannot be read (a
// missing file reads as nullopt with *why "").
FileContent ReadContent(const std::string& path, std::string* why);

// What the files become when `record`'s change is undone over them as they
// are now, a path and its content each. False, with *changed naming the
// first place ("PATH, строка N", or the path) where a file is not as the
// change left it, or why it cannot be read.
bool UndoneContents(const FileRecord& record, FileContents* contents, std::string* changed);

// Writes each file (a whole replacement that no reader or crash meets half
// done; nullopt removes it), in order, first saving into *saved what each
// held (nullopt when none), so that PutFilesBack can undo what was written.
// Stops at the first failure, having put back what it wrote.
status::Status WriteFiles(const FileContents& contents, FileContents* saved);
// Gives the files back what `saved` holds, the last first; best effort.
void PutFilesBack(const FileContents& saved);

// The files of a change written (WriteFiles) just before its commit, and
// given back what they held when `commit` fails: the commit's code, or
// ERROR_WRITE_FAULT with *failure saying which file could not be written.
LONG CommitWithFiles(const FileContents& contents, const std::function<LONG()>& commit, std::string* failure);

}  // namespace zandrel::capture
