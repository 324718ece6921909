// The history of committed changes, kept in the registry beside what it
// describes: under HKEY_LOCAL_MACHINE\SOFTWARE\Zandrel\History one key per
// change, named by its number in ten digits (numbers are never given twice:
// the key's value "Next" holds the next one), with the values "Time"
// (REG_QWORD, seconds since 1970 UTC), "Kind" and "Subject" (REG_SZ: "add",
// "remove", "import", "undo", "change"; the extension, file or number),
// "Keys" (REG_DWORD, the keys it touched), "Record" (REG_BINARY,
// capture/ChangeRecord.h), for a change that touched the desktop's files
// "Files" (REG_BINARY, capture/FileRecord.h; a record without it touched
// none), and, once undone, "UndoneBy" (REG_DWORD).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/ChangeRecord.h"
#include "capture/FileRecord.h"

namespace zandrel::capture {

inline constexpr const char* kHistoryPath = "SOFTWARE\\Zandrel\\History";  // under HKEY_LOCAL_MACHINE

// How much history is kept: the last `changes` changes, fewer (the oldest
// dropped first) while their records pass `bytes` together; the newest is
// always kept. On Windows the history lives in the machine's SOFTWARE hive,
// which every program shares and Windows loads whole: 8 MB there; the
// program's own hive on Linux carries 64 MB.
struct HistoryBound {
  std::size_t changes = 100;
#ifdef _WIN32
  std::size_t bytes = std::size_t{8} << 20;
#else
  std::size_t bytes = std::size_t{64} << 20;
#endif
};

struct HistoryEntry {
  unsigned number = 0;
  std::int64_t time = 0;
  std::string kind, subject;
  unsigned keys = 0;
  unsigned undoneBy = 0;  // 0 while not undone
  std::size_t bytes = 0;  // the record's size
};

// Adds a change inside the open transaction of `registry`, marks the change
// it undoes (`undone`, 0 for none) and, when that is an undo, the changes
// down its chain of undos as undone or standing again, and drops the oldest
// past the bound. *number: the change's number.
// `files`: the file lines the change touched, none when empty.
LONG AddToHistory(IRegistry& registry, const HistoryEntry& entry, const ChangeRecord& record, unsigned undone,
                  const HistoryBound& bound, unsigned* number, const FileRecord& files = {});

// The changes kept, newest first.
LONG ReadHistory(IRegistry& registry, std::vector<HistoryEntry>* entries);
// The record of change N: ERROR_FILE_NOT_FOUND when it is not kept,
// ERROR_BADDB when its record is damaged.
LONG ReadChangeRecord(IRegistry& registry, unsigned number, ChangeRecord* record);

// The file lines change N touched (none for a record kept without them):
// ERROR_FILE_NOT_FOUND when it is not kept, ERROR_BADDB when they are damaged.
LONG ReadChangeFiles(IRegistry& registry, unsigned number, FileRecord* files);

// The extension a change added, removed or gave another program, following an undo to the change
// it undid; "" for an import, or when the chain leaves the kept history.
std::string ChangedExtension(IRegistry& registry, const HistoryEntry& entry);

// What a change was, in the program's words: "добавление .txt".
std::string ChangeTitle(const std::string& kind, const std::string& subject);
// One line of `zandrel-reg history`: number, local time, what, keys touched.
std::string HistoryLine(const HistoryEntry& entry);
// Local time as "2026-12-07 12:05:54".
std::string LocalTime(std::int64_t time);

}  // namespace zandrel::capture
