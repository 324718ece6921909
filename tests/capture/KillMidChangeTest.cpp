// A copy of the program killed at any write of an add, a removal, an undo, an
// import or a change of a program over a registry without transactions leaves, once a copy starts
// again, the classes store and the history of changes exactly as they were;
// so does a start killed at any write of that roll-back, once the next one
// finishes it. Each kill point runs in a child that kills itself before its
// Nth write: a registry change, or an append to or the removal of the undo
// record. The parent then starts as the program does and compares the whole
// classes store. In the Windows build the registry is the machine's (a
// sandbox key), the record the program's own file store, and the killed copy
// another user's; elsewhere the hive, used without its transactions, and a
// file store of this test's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "capture/UndoJournal.h"
#include "regfile/RegFile.h"
#include "store/AssociationChanges.h"
#include "store/ChangeUndo.h"
#include "store/ProgramChange.h"
#include "support/FailingRegistry.h"
#include "support/MemoryStore.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

#ifdef _WIN32
#include <process.h>

#include "registry/win32/Win32Registry.h"
#include "support/Win32Support.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "registry/hive/Hive.h"
#endif

namespace zandrel::testing {
namespace {

constexpr int kCountBase = 100;  // a finished child exits with kCountBase + its writes
constexpr int kKilled = 99;

// The kill points tried of `writes`: each of them; in the Windows build,
// where a child takes a tenth of a second to start, every third (which
// meets both registry writes and appends to the record) and the last.
std::vector<int> KillPoints(int writes) {
#ifdef _WIN32
  constexpr int kStep = 3;
#else
  constexpr int kStep = 1;
#endif
  std::vector<int> points;
  for (int n = 1; n <= writes; n += kStep) points.push_back(n);
  if (points.back() != writes) points.push_back(writes);
  return points;
}

#ifdef _WIN32
win32::UndoPlace PlaceIn(const std::string& folder) { return {folder + "\\undo-record", folder + "\\undo-lock"}; }
std::unique_ptr<IRegistry> PlainRegistry(const std::string&) { return std::make_unique<win32::Win32Registry>(); }
std::unique_ptr<capture::UndoStore> RecordStore(const std::string& folder) {
  std::unique_ptr<capture::UndoStore> store;
  EXPECT_TRUE(IsOk(win32::OpenUndoStore(PlaceIn(folder), &store)));
  return store;
}
std::string RecordPath(const std::string& folder) { return PlaceIn(folder).record_path; }
#else
// The record as a file of this folder, appended durably; an flock keeps
// writers apart.
class FileStore : public capture::UndoStore {
 public:
  explicit FileStore(std::string folder) : folder_(std::move(folder)) {}
  ~FileStore() override {
    if (lock_ >= 0) ::close(lock_);
  }
  LONG Lock(bool wait) override {
    if (lock_ < 0) lock_ = ::open((folder_ + "/undo-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock_ < 0) return ERROR_ACCESS_DENIED;
    return ::flock(lock_, wait ? LOCK_EX : LOCK_EX | LOCK_NB) == 0 ? ERROR_SUCCESS : ERROR_BUSY;
  }
  void Unlock() override { ::flock(lock_, LOCK_UN); }
  LONG Append(const std::string& bytes) override {
    const int fd = ::open(Record().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return ERROR_ACCESS_DENIED;
    const bool done = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && ::fsync(fd) == 0;
    ::close(fd);
    return done ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
  }
  LONG Read(std::string* bytes) override {
    if (!std::filesystem::exists(Record())) return ERROR_FILE_NOT_FOUND;
    *bytes = ReadFile(Record());
    return ERROR_SUCCESS;
  }
  LONG Remove() override {
    return ::unlink(Record().c_str()) == 0 || errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  }
  std::string Record() const { return folder_ + "/undo-record"; }

 private:
  std::string folder_;
  int lock_ = -1;
};

std::unique_ptr<IRegistry> PlainRegistry(const std::string& folder) {
  std::unique_ptr<hive::HiveRegistry> hive;
  EXPECT_TRUE(IsOk(hive::OpenHive(folder + "/hive.db", &hive)));
  return hive;
}
std::unique_ptr<capture::UndoStore> RecordStore(const std::string& folder) {
  return std::make_unique<FileStore>(folder);
}
std::string RecordPath(const std::string& folder) { return folder + "/undo-record"; }
#endif

// The classes and the history of changes, but for the changes' times.
std::string Store(IRegistry& registry) {
  std::string dump = DumpTree(registry, HKEY_LOCAL_MACHINE, "SOFTWARE");
  for (std::size_t at; (at = dump.find("  \"Time\" type 11")) != std::string::npos;)
    dump.erase(at, dump.find('\n', at) + 1 - at);
  return dump;
}

// Starts as the program starts: a record left behind is rolled back.
std::unique_ptr<IRegistry> Start(const std::string& folder) {
  std::unique_ptr<IRegistry> registry;
  EXPECT_TRUE(IsOk(capture::StartJournalled(PlainRegistry(folder), RecordStore(folder), RecordPath(folder),
                                            &registry)));
  return registry;
}

// The classes and history once a copy has started, or why it would not.
std::string StoreAfterStart(const std::string& folder) {
  std::unique_ptr<IRegistry> registry;
  const status::Status started =
      capture::StartJournalled(PlainRegistry(folder), RecordStore(folder), RecordPath(folder), &registry);
  return started.Ok() ? Store(*registry) : "not started: " + started.message;
}

// Counts writes; kills the process before the one numbered `kill_at`.
struct WriteCounter {
  int kill_at = 0;
  int count = 0;
  void Next() {
    if (++count == kill_at) KillThisProcess();
  }
};

// The registry's changes are writes: creating a key, setting, deleting.
std::unique_ptr<IRegistry> Killing(std::unique_ptr<IRegistry> inner, WriteCounter& counter) {
  auto registry = std::make_unique<FailingRegistry>(std::move(inner));
  registry->before = [&counter](RegOp op) {
    if ((op & (Create | SetValue | DeleteKey | DeleteValue)) != 0) counter.Next();
  };
  return registry;
}

// A record that is there but cannot be read (another program holds it).
struct UnreadableStore : MemoryStore {
  LONG Read(std::string*) override { return 32; }  // ERROR_SHARING_VIOLATION
};

class KillingStore : public capture::UndoStore {
 public:
  KillingStore(std::unique_ptr<UndoStore> inner, WriteCounter& counter) : inner_(std::move(inner)), counter_(counter) {}
  LONG Lock(bool wait) override { return inner_->Lock(wait); }
  void Unlock() override { inner_->Unlock(); }
  LONG Append(const std::string& bytes) override {
    counter_.Next();
    return inner_->Append(bytes);
  }
  LONG Read(std::string* bytes) override { return inner_->Read(bytes); }
  LONG Remove() override {
    counter_.Next();
    return inner_->Remove();
  }

 private:
  std::unique_ptr<UndoStore> inner_;
  WriteCounter& counter_;
};

// An import that spells one key two ways, with names in Cyrillic, deletes a
// value before another, sets one in place and deletes a key.
constexpr char kImport[] = R"(Windows Registry Editor Version 5.00

[HKEY_CLASSES_ROOT\.zq]
"Content Type"=-
"PerceivedType"="document"

[-HKEY_CLASSES_ROOT\Zq.Document\DefaultIcon]

[HKEY_CLASSES_ROOT\.zcase]
@="ZCase.Тип0"

[HKEY_CLASSES_ROOT\ZCase.Тип0]
@="Тип"
"Имя"="первое"

[HKEY_CLASSES_ROOT\ZCase.ТИП0\shell\open\command]
@="zq.exe \"%1\""

[HKEY_CLASSES_ROOT\ZCase.ТИП0]
"ИМЯ"="второе"
@="ТИП"
)";

// Makes the change `op` (an add, a removal, an undo, an import, a set of .zq,
// whose title .zr shares, or "replay": only the start's roll-back), killed
// before write `kill_at` (0: never).
int CrashChild(const std::string& folder, const std::string& op, int kill_at) {
  WriteCounter counter{kill_at};
  capture::JournalledRegistry journalled(Killing(PlainRegistry(folder), counter),
                                         std::make_unique<KillingStore>(RecordStore(folder), counter));
  if (journalled.Recover() != ERROR_SUCCESS) return 2;
  capture::HistoryRegistry registry(journalled);
  RecordingPrompter prompter;
  prompter.AnswerNext(IDYES);
  if (op == "add") {
    store::CreateAssociation(registry, prompter, {".new", "Новый файл", folder + "/zq viewer.exe", 0});
  } else if (op == "remove") {
    store::RemoveAssociation(registry, prompter, {".zq", "Zq.Document", 0});
  } else if (op == "undo") {
    store::UndoChange(registry, 0);
  } else if (op == "import") {
    registry.Describe("import", "zcase.reg");
    if (!regfile::ImportRegText(registry, kImport, "zcase.reg").Ok()) return 3;
  } else if (op == "set") {
    registry.Describe("set", ".zq");
    if (!store::ChangeProgram(registry, {".zq", folder + "/new viewer.exe"}).committed) return 3;
  }
  return kCountBase + counter.count;
}

class JournalCrash : public ::testing::TestWithParam<const char*> {
 protected:
  // A fresh store holding two associations, and for an undo a third added
  // after them; returns its classes and history.
  std::string Seed() {
    RecordStore(dir_.Path())->Remove();  // a failed row's, not this store's
#ifdef _WIN32
    EnterRegistrySandbox(sandbox_);
#else
    for (const char* file : {"hive.db", "hive.db-wal", "hive.db-shm"}) std::filesystem::remove(dir_.File(file));
#endif
    auto registry = Start(dir_.Path());
    const std::string program = dir_.File("zq viewer.exe");
    SeedAssociation(*registry, ".txt", "txtfile", "notepad.exe %1");
    SeedAssociation(*registry, ".zq", "Zq.Document", "\"" + program + "\" \"%1\"");
    SeedValue(*registry, "Zq.Document\\DefaultIcon", "", REG_SZ, program + ",1");
    SeedValue(*registry, ".zq", "Content Type", REG_SZ, "text/zq");
    SeedValue(*registry, ".zq", "PerceivedType", REG_SZ, "text");
    if (std::string(GetParam()) == "set") SeedValue(*registry, ".zr", "", REG_SZ, "Zq.Document");
    if (std::string(GetParam()) == "undo") {
      capture::HistoryRegistry history(*registry);
      RecordingPrompter prompter;
      store::CreateAssociation(history, prompter, {".new", "Новый файл", program, 0});
    }
    return Store(*registry);
  }
  // The exit code of a child making `op`; kKilled when it was killed.
  int RunChild(const std::string& op, int kill_at) {
#ifdef _WIN32
    const std::string program = ThisProgram(), kill = std::to_string(kill_at);
    const std::string quoted_program = "\"" + program + "\"", quoted_folder = "\"" + dir_.Path() + "\"";
    const char* argv[] = {quoted_program.c_str(), "--crash-child", sandbox_.c_str(), quoted_folder.c_str(), op.c_str(),
                          kill.c_str(),           nullptr};
    // Wine under load now and then fails to start a process at all (-1):
    // that is no answer of the child's, so the start is tried again.
    intptr_t code = -1;
    for (int attempt = 0; attempt < 3 && code == -1; ++attempt) code = _spawnv(_P_WAIT, program.c_str(), argv);
    return static_cast<int>(code);
#else
    const pid_t child = ::fork();
    if (child == 0) ::_exit(CrashChild(dir_.Path(), op, kill_at));
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? kKilled : WEXITSTATUS(status);
#endif
  }

  TempDir dir_;
  const std::string sandbox_ = "crash-" + dir_.Path().substr(dir_.Path().rfind('-') + 1);
};

TEST_P(JournalCrash, KilledAtAnyWriteStartsAgainWithTheOldState) {
  dir_.Write("zq viewer.exe", "MZ");
  dir_.Write("new viewer.exe", "MZ");
  const std::string before = Seed();
  const int writes = RunChild(GetParam(), 0) - kCountBase;
  ASSERT_GT(writes, 2);
  ASSERT_NE(StoreAfterStart(dir_.Path()), before) << "the change did nothing";
  for (int n : KillPoints(writes)) {
    SCOPED_TRACE("killed before write " + std::to_string(n) + " of " + std::to_string(writes));
    ASSERT_EQ(Seed(), before);
    ASSERT_EQ(RunChild(GetParam(), n), kKilled);
    EXPECT_EQ(StoreAfterStart(dir_.Path()), before);
  }
  std::printf("%s: %d writes, %zu of them kill points, each rolled back at the next start\n", GetParam(), writes,
              KillPoints(writes).size());
}

INSTANTIATE_TEST_SUITE_P(Changes, JournalCrash, ::testing::Values("add", "remove", "undo", "import", "set"));

// The change killed with all its writes made but the record's removal, so
// that all of it is rolled back; that start killed at each of its writes in
// turn, and the next one at the same write again when it gets that far. The
// import's record holds what an add's and an undo's do (keys created, then
// their values set; keys deleted), a removal's a key of several values
// deleted.
class JournalRollBackCrash : public JournalCrash {};

TEST_P(JournalRollBackCrash, KilledAtAnyWriteIsFinishedByTheNextStart) {
  dir_.Write("zq viewer.exe", "MZ");
  dir_.Write("new viewer.exe", "MZ");
  const std::string before = Seed();
  const int writes = RunChild(GetParam(), 0) - kCountBase;
  ASSERT_EQ(Seed(), before);
  ASSERT_EQ(RunChild(GetParam(), writes), kKilled);
  const int replay_writes = RunChild("replay", 0) - kCountBase;
  ASSERT_GT(replay_writes, 2);
  ASSERT_EQ(StoreAfterStart(dir_.Path()), before);
  for (int n : KillPoints(replay_writes)) {
    SCOPED_TRACE("roll-back killed before write " + std::to_string(n) + " of " + std::to_string(replay_writes));
    ASSERT_EQ(Seed(), before);
    ASSERT_EQ(RunChild(GetParam(), writes), kKilled);
    ASSERT_EQ(RunChild("replay", n), kKilled);
    const int again = RunChild("replay", n);
    ASSERT_TRUE(again == kKilled || (again >= kCountBase && again < kCountBase + n)) << again;
    EXPECT_EQ(StoreAfterStart(dir_.Path()), before);
  }
  std::printf("%s: %d writes to roll back, %zu of them kill points, each finished by the next start\n", GetParam(),
              replay_writes, KillPoints(replay_writes).size());
}

INSTANTIATE_TEST_SUITE_P(Changes, JournalRollBackCrash, ::testing::Values("remove", "import", "set"));

// Another copy (another administrator's) changed a key after the record's
// writer died, to a value the record does not know: that key is not put
// back, nothing is, and the record stays until the key holds what the writer
// left.
class JournalOverChange : public JournalCrash {};

TEST_P(JournalOverChange, ARecordIsNotReplayedOverAKeyChangedSince) {
  const struct {
    const char* name;  // of the value of .new the other copy sets
    const char* data;
    const char* restored;  // what it is set back to; null: deleted
  } kChanges[] = {
      {"", "Чужой файл", "Новый файл"},
      {"Чужое", "Новый файл", nullptr},
  };
  dir_.Write("zq viewer.exe", "MZ");
  for (const auto& change : kChanges) {
    SCOPED_TRACE(change.name);
    const std::string before = Seed();
    ASSERT_EQ(RunChild("add", 5), kKilled);  // .new made and named "Новый файл"
    ASSERT_EQ(SeedValue(*PlainRegistry(dir_.Path()), ".new", change.name, REG_SZ, change.data), ERROR_SUCCESS);
    const std::string changed = DumpClasses(*PlainRegistry(dir_.Path()));
    std::unique_ptr<IRegistry> started;
    const status::Status refused =
        capture::StartJournalled(PlainRegistry(dir_.Path()), RecordStore(dir_.Path()), "RECORD", &started);
    EXPECT_EQ(started, nullptr);
    EXPECT_EQ(refused.code, status::Status::kFailed);
    EXPECT_EQ(refused.message,
              "the unfinished change recorded in RECORD was not rolled back: the key "
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.new has changed since it was recorded. "
              "Check that key, then delete the record");
    EXPECT_EQ(DumpClasses(*PlainRegistry(dir_.Path())), changed);
    {
      auto other = PlainRegistry(dir_.Path());
      HKEY key = 0;
      ASSERT_EQ(other->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".new", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
      EXPECT_EQ(change.restored ? SeedValue(*other, ".new", change.name, REG_SZ, change.restored)
                                : other->RegDeleteValueA(key, change.name),
                ERROR_SUCCESS);
      other->RegCloseKey(key);
    }
    EXPECT_EQ(StoreAfterStart(dir_.Path()), before);
  }
  std::unique_ptr<IRegistry> started;
  EXPECT_EQ(capture::StartJournalled(PlainRegistry(dir_.Path()), std::make_unique<UnreadableStore>(), "RECORD",
                                     &started)
                .message,
            "cannot roll back the unfinished change recorded in RECORD: error 32");
}

INSTANTIATE_TEST_SUITE_P(Changes, JournalOverChange, ::testing::Values("add"));

}  // namespace
}  // namespace zandrel::testing

int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc == 6 && std::string(argv[1]) == "--crash-child") {
    // The killed copy is another user's (a HKEY_CURRENT_USER of its own): the
    // record is the machine's, and this user's start rolls it back.
    zandrel::testing::JoinRegistrySandbox(argv[2], "Another user");
    return zandrel::testing::CrashChild(argv[3], argv[4], std::atoi(argv[5]));
  }
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
