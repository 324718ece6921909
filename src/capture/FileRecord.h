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
// Gives the files back what `saved` holds, the last first, each tried;
// false when one could not be written.
bool PutFilesBack(const FileContents& saved);

// A change's files are written just before its commit, which a failure of
// theirs keeps from happening; a death between the two would leave the files
// changed with no history to undo them. So, first, a journal beside the store
// keeps durably what each file held and is to hold, with the number the
// change gets in the history and its file lines; the commit takes it away.
// A journal found when the next change begins (the store locked) was left by
// a death: unless the history holds that change (the death came after the
// commit), each file still holding what was written gets back what it held;
// a file changed since is left as it is. Repairing twice does what once
// does, so a death during the repair is repaired by the next.
//
// The journal, little-endian as the file record: "ZFJ1" u32 number, string
// file record (EncodeFileRecord), u32 files, per file: string path, u8 (1: it
// existed, 2: it remains), string before, string after.
struct FileJournal {
  unsigned number = 0;
  FileRecord record;
  FileContents before, after;  // the same paths, in the order written
};
std::string EncodeFileJournal(const FileJournal& journal);
bool DecodeFileJournal(std::string_view bytes, FileJournal* journal);

// Writes the files of change `number` (its lines `record`), journalled at
// `journal` when not "": what they held into *saved. On failure the status
// names the file, and nothing is left written, no journal either, unless a
// file could not be put back: the journal then stays for the next change to
// repair. A journal left unrepaired refuses the change. EndChangeFiles after
// the commit, or after PutFilesBack when the commit failed and it put every
// file back.
status::Status WriteChangeFiles(const std::string& journal, unsigned number, const FileRecord& record,
                                const FileContents& contents, FileContents* saved);
void EndChangeFiles(const std::string& journal);

// Repairs what a journal at `journal` says, over `registry`, the store the
// history is kept in, which the caller holds locked (in a transaction).
// "" when there was none or it is repaired; else why not, and it stays.
std::string RepairChangeFiles(IRegistry& registry, const std::string& journal);

}  // namespace zandrel::capture
