// What a journal with the Windows build's scope (the classes, seen from both
// roots, and the program's own key) lets a change write and a record found at
// start write back, and what the start does with a damaged record. In the
// Windows build over the machine's registry (a sandbox key), elsewhere over
// the hive; the record in memory.
#include <gtest/gtest.h>

#include <optional>

#include "capture/UndoJournal.h"
#include "regfile/RegFile.h"
#include "registry/Key.h"
#include "support/MemoryStore.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

#ifdef _WIN32
#include "registry/win32/Win32Registry.h"
#include "support/Win32Support.h"
#else
#include "registry/hive/Hive.h"
#endif

namespace zandrel::testing {
namespace {

using capture::RecordEntry;

const capture::JournalScope kScope = {{HKEY_CLASSES_ROOT, ""},
                                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"},
                                      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel"}};

class JournalScope : public ::testing::Test {
 protected:
  JournalScope() {
#ifdef _WIN32
    EnterRegistrySandbox("scope-" + dir_.Path().substr(dir_.Path().rfind('-') + 1));
#endif
    SeedValue(*Plain(), ".zq", "", REG_SZ, "Zq.Document");
    SeedKey(*Plain(), ".left");
  }
  std::unique_ptr<IRegistry> Plain() {
#ifdef _WIN32
    return std::make_unique<win32::Win32Registry>();
#else
    std::unique_ptr<hive::HiveRegistry> hive;
    EXPECT_TRUE(IsOk(hive::OpenHive(dir_.File("hive.db"), &hive)));
    return hive;
#endif
  }
  std::unique_ptr<capture::JournalledRegistry> Journalled() {
    return std::make_unique<capture::JournalledRegistry>(Plain(), std::make_unique<MemoryStore>(record_), kScope);
  }
  // Starts as the program does, with `record` left behind; why it would not
  // start, or "".
  std::string StartWith(const std::string& record) {
    record_ = record;
    std::unique_ptr<IRegistry> started;
    const status::Status status =
        capture::StartJournalled(Plain(), std::make_unique<MemoryStore>(record_), "RECORD", &started, kScope);
    EXPECT_EQ(started == nullptr, !status.Ok());
    return status.message;
  }
  std::string Machine() { return DumpTree(*Plain(), HKEY_LOCAL_MACHINE, "SOFTWARE"); }

  TempDir dir_;
  std::optional<std::string> record_;
};

// The importer opens a key a name at a time from its root, as Windows'
// own does: the keys above the classes are opened, not written.
TEST_F(JournalScope, AnImportIntoTheMachinesClassesOpensTheKeysAboveThem) {
  auto journalled = Journalled();
  ASSERT_TRUE(IsOk(regfile::ImportRegText(*journalled,
                                          "Windows Registry Editor Version 5.00\r\n\r\n"
                                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.zlm1]\r\n@=\"lm\"\r\n",
                                          "zlm.reg")));
  EXPECT_EQ(DumpTree(*Plain(), HKEY_CLASSES_ROOT, ".zlm1"), "[.zlm1]\n  \"\" type 1: 6c 6d 00\n");
}

// Each write, announced first (WillWrite) and then made a key at a time from
// the root, inside one change; then the change is rolled back.
TEST_F(JournalScope, AChangeWritesOnlyInsideTheScopeAndMakesOrDeletesNoScopeKeyWhole) {
  using Op = PlannedWrite::Kind;
  const struct {
    HKEY root;
    const char* path;
    Op op;
    LONG code;
    bool recorded;  // whether the record grows
  } kWrites[] = {
      {HKEY_LOCAL_MACHINE, "SOFTWARE", Op::kCreateKey, ERROR_SUCCESS, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zlm1", Op::kCreateKey, ERROR_SUCCESS, true},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\History", Op::kCreateKey, ERROR_SUCCESS, true},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\ClassesX", Op::kCreateKey, capture::kOutsideJournalScope, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\ClassesX\\.zq", Op::kCreateKey, capture::kOutsideJournalScope, false},
      {HKEY_CURRENT_USER, "Software\\Zq", Op::kCreateKey, capture::kOutsideJournalScope, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", Op::kSetValue, capture::kOutsideJournalScope, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE", Op::kDeleteValue, capture::kOutsideJournalScope, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", Op::kSetValue, ERROR_SUCCESS, true},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zlm1", Op::kSetValue, ERROR_SUCCESS, true},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zlm1", Op::kDeleteValue, ERROR_SUCCESS, true},
      {HKEY_CLASSES_ROOT, ".zq", Op::kSetValue, ERROR_SUCCESS, true},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", Op::kDeleteKey, capture::kOutsideJournalScope, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel", Op::kDeleteKey, capture::kOutsideJournalScope, false},
      {HKEY_CLASSES_ROOT, "", Op::kDeleteKey, capture::kOutsideJournalScope, false},
      {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.left", Op::kDeleteKey, ERROR_SUCCESS, true},
  };
  const std::string before = Machine();
  auto journalled = Journalled();
  ASSERT_EQ(journalled->BeginTransaction(), ERROR_SUCCESS);
  for (const auto& write : kWrites) {
    SCOPED_TRACE(std::string(write.path) + " " + std::to_string(static_cast<int>(write.op)));
    const std::size_t at_start = record_.value_or("").size();
    journalled->WillWrite({{write.op, write.root, write.path, "Zq", REG_SZ, "z"}});
    const std::size_t announced = record_.value_or("").size();
    EXPECT_EQ(announced > at_start, write.recorded);
    LONG code = ERROR_SUCCESS;
    if (write.op == Op::kDeleteKey) {
      code = journalled->RegDeleteKeyA(write.root, write.path);
    } else {
      // A key at a time, each below the handle of the one before.
      const std::string path = write.path;
      registry::Key key(*journalled, write.root);
      for (std::size_t at = 0, end; code == ERROR_SUCCESS && at < path.size(); at = end + 1) {
        end = std::min(path.find('\\', at), path.size());
        registry::Key next(*journalled);
        code = next.Create(key.Handle(), path.substr(at, end - at));
        key = std::move(next);
      }
      if (code == ERROR_SUCCESS && write.op == Op::kSetValue)
        code = journalled->RegSetValueExA(key.Handle(), "Zq", 0, REG_SZ, reinterpret_cast<const BYTE*>("z"), 1);
      if (code == ERROR_SUCCESS && write.op == Op::kDeleteValue) code = journalled->RegDeleteValueA(key.Handle(), "Zq");
    }
    EXPECT_EQ(code, write.code);
    EXPECT_EQ(record_.value_or("").size(), announced) << "a write recorded what was not announced";
  }
  journalled->RollbackTransaction();
  EXPECT_EQ(Machine(), before);
  EXPECT_FALSE(record_.has_value());
}

// A record names only what a change may: values of a scope key, keys made
// or deleted below one. One that would delete a scope key, or a root, is
// not replayed; a scope key it names as made goes only when empty.
TEST_F(JournalScope, ARecordDeletesNoScopeKeyWhole) {
  const std::string header = capture::kUndoRecordHeader;
  using K = RecordEntry::Kind;
  auto record = [&](K kind, HKEY root, const std::string& path) {
    RecordEntry entry{kind, root, path, {}, {}, {}};
    if (kind == K::kValues) entry.after = {{"Zq", REG_SZ, "z"}};
    return header + capture::EncodeUndoEntry(entry);
  };
  const auto outside = [](const std::string& key) {
    return "the unfinished change recorded in RECORD was not rolled back: it names the key " + key +
           ", which this program never changes. The record is not its own: delete it";
  };
  ASSERT_EQ(SeedKey(*Plain(), "SOFTWARE\\Zandrel\\History\\1", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  const HKEY hkcr = HKEY_CLASSES_ROOT, hklm = HKEY_LOCAL_MACHINE;
  const struct {
    std::string record;
    std::string message;  // "" when it starts
    bool left_goes;       // HKEY_CLASSES_ROOT\.left is deleted
  } kRecords[] = {
      {record(K::kCreated, hklm, "SOFTWARE\\Classes"), "", false},
      {record(K::kCreated, hklm, "SOFTWARE\\Zandrel"), "", false},
      {record(K::kCreated, hkcr, ""), outside("HKEY_CLASSES_ROOT"), false},
      {record(K::kCreated, hklm, ""), outside("HKEY_LOCAL_MACHINE"), false},
      {record(K::kCreated, hklm, "SOFTWARE"), outside("HKEY_LOCAL_MACHINE\\SOFTWARE"), false},
      {record(K::kDeleted, hklm, "SOFTWARE\\Classes"), outside("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"), false},
      {record(K::kDeleted, hklm, "software\\zandrel"), outside("HKEY_LOCAL_MACHINE\\software\\zandrel"), false},
      {record(K::kDeleted, hkcr, ""), outside("HKEY_CLASSES_ROOT"), false},
      {record(K::kValues, hklm, "SOFTWARE\\Classes"), "", false},
      {record(K::kValues, hklm, "SOFTWARE"), outside("HKEY_LOCAL_MACHINE\\SOFTWARE"), false},
      {record(K::kCreated, hklm, "SOFTWARE\\Classes\\.left"), "", true},
      {record(K::kCreated, hkcr, ".left"), "", true},
  };
  const std::string machine = Machine();
  for (const auto& row : kRecords) {
    SCOPED_TRACE(row.record);
    EXPECT_EQ(StartWith(row.record), row.message);
    EXPECT_EQ(record_.has_value(), !row.message.empty()) << "only a record replayed is removed";
    EXPECT_EQ(registry::Key(*Plain()).Open(HKEY_CLASSES_ROOT, ".left"),
              row.left_goes ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    if (!row.left_goes) {
      EXPECT_EQ(Machine(), machine);
    }
    SeedKey(*Plain(), ".left");
  }
}

// A record damaged other than by a death inside its last append holds an
// unknown change (which records are damaged is UndoRecordTest's): nothing of
// it is replayed, not even its sound first entry, it stays, and no change
// starts until a person has looked.
TEST_F(JournalScope, ADamagedRecordIsKeptAndNotReplayed) {
  const std::string created =
      capture::EncodeUndoEntry({RecordEntry::Kind::kCreated, HKEY_CLASSES_ROOT, ".left", {}, {}, {}});
  const std::string record = capture::kUndoRecordHeader + created + "created 80000000 zz\n" + created;
  const std::string machine = Machine();
  EXPECT_EQ(StartWith(record),
            "the undo record RECORD is damaged at line 3: it is not replayed. Check the classes, then delete it");
  auto journalled = Journalled();
  EXPECT_EQ(regfile::ImportRegText(*journalled, "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.zlm1]\r\n", "zlm.reg").message,
            "zlm.reg: cannot start the import: the undo record of an unfinished change is damaged and is not replayed: "
            "check the classes, then delete it (error 536870915)");
  EXPECT_EQ(record_, record);
  EXPECT_EQ(Machine(), machine);
}

}  // namespace
}  // namespace zandrel::testing
