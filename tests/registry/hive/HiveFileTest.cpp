// The hive as a file: files that are not hives, private modes, hives this
// process may not write, the seeded default store, where the default hive
// lives, files other programs changed, and caches that never drift from the
// file.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include "registry/RegistryScript.h"
#include "registry/hive/Hive.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using hive::OpenHive;
using status::Status;

std::unique_ptr<hive::HiveRegistry> Open(const std::string& path) {
  std::unique_ptr<hive::HiveRegistry> hive;
  EXPECT_TRUE(IsOk(OpenHive(path, &hive)));
  return hive;
}

// Why the hive at `path` does not open: the code's number and the message.
std::string Refusal(const std::string& path) {
  std::unique_ptr<hive::HiveRegistry> hive;
  const Status opened = OpenHive(path, &hive);
  return opened.Ok() ? std::string("opened") : std::to_string(opened.code) + " " + opened.message;
}
std::string Refusal(Status::Code code, const std::string& message) { return std::to_string(code) + " " + message; }

// Runs `sql` on the hive's file as another program would: the first column
// of the last row it gives, as a number; -1 when it gives none.
int Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  int last = -1;
  const auto row = [](void* out, int columns, char** values, char**) {
    if (columns > 0 && values[0] != nullptr) *static_cast<int*>(out) = std::atoi(values[0]);
    return 0;
  };
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), row, &last, nullptr), SQLITE_OK) << sql;
  }
  sqlite3_close(db);
  return last;
}

// Runs `work` in a child process, as the user nobody when this one is root
// (root passes over permission bits); returns what it returned.
std::string AsUser(const std::function<std::string()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  if (::fork() == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(6);
    const std::string result = work();
    ::_exit(::write(fds[1], result.data(), result.size()) < 0 ? 7 : 0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::wait(&status);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : "child failed";
}

TEST(HiveFiles, WhatIsNotAHiveIsRefusedByNameAndLeftAlone) {
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0755);
  const std::string foreign = dir.File("foreign.db"), truncated = dir.File("truncated.db");
  {
    auto hive = Open(foreign);
    for (int i = 0; i < 200; ++i) SeedKey(*hive, "key" + std::to_string(i));
  }
  std::string bytes = ReadFile(foreign);
  WriteFile(truncated, bytes.substr(0, bytes.size() / 2 + 100));
  bytes.replace(68, 4, std::string(4, '\0'));  // the application id
  WriteFile(foreign, bytes);
  std::string noise;
  for (unsigned state = 12345; noise.size() < 4096;)
    noise += static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
  // clang-format off
  const struct {
    const char* name;
    std::string bytes;  // the file's content
    std::string error;  // after the file's quoted path
  } rows[] = {
      {"empty", "", " is not a registry hive: the file is empty"},
      {"text", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.x]\r\n",
       " is not a registry hive: not a SQLite database"},
      {"noise", noise, " is not a registry hive: not a SQLite database"},
      {"short header", std::string("SQLite format 3\0", 16), " is not a registry hive: not a SQLite database"},
      {"foreign", ReadFile(foreign), " is not a registry hive: a SQLite database of another kind"},
      {"truncated", ReadFile(truncated), ": database disk image is malformed"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.Write(std::string(row.name) + "/registry.db", row.bytes);
    const std::string quoted = "\"" + path + "\"";
    EXPECT_EQ(Refusal(path), row.error[0] == ':'
                                 ? Refusal(Status::kFailed, "cannot open the registry hive " + quoted + row.error)
                                 : Refusal(Status::kInvalid, quoted + row.error));
    EXPECT_EQ(ReadFile(path), row.bytes);
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    ::chmod(path.c_str(), 0444);
    if (row.error[0] != ':') {
      EXPECT_EQ(AsUser([&] { return Refusal(path); }), Refusal(Status::kInvalid, quoted + row.error)) << "read-only";
    }
  }
  EXPECT_EQ(Refusal(dir.Path()),
            Refusal(Status::kNotAFile, "\"" + dir.Path() + "\" is not a registry hive: not a regular file"));
  const std::string under = dir.Write("plain", "x") + "/registry.db";
  EXPECT_NE(Refusal(under).find("\"" + under + "\""), std::string::npos);
}

TEST(HiveFiles, CreatedPrivateWhateverTheUmaskAndLeavingNothingElse) {
  TempDir dir;
  const mode_t old = ::umask(0);
  const std::string path = dir.File("a/b/registry.db");
  {
    auto hive = Open(path);
    ASSERT_EQ(SeedKey(*hive, ".zq"), 0);
    for (const std::string& f : {path, path + "-wal", path + "-shm"}) {
      struct stat st {};
      EXPECT_EQ(::stat(f.c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0600u) << f;
    }
  }
  ::umask(old);
  for (const char* folder : {"a", "a/b"}) {
    struct stat st {};
    ASSERT_EQ(::stat(dir.File(folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << folder;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("a/b")))
    EXPECT_EQ(entry.path().filename().string().rfind("registry.db", 0), 0u) << entry.path();
}

// Opens the hive, lists it as `listing`, and is refused every kind of
// write: "ok", or "failed" (in a child process, its failures printed).
std::string ListsAndIsRefused(const std::string& path, const std::string& listing) {
  std::unique_ptr<hive::HiveRegistry> reg;
  if (const Status opened = OpenHive(path, &reg); !opened.Ok()) return "open failed: " + opened.message;
  EXPECT_EQ(DumpClasses(*reg), listing);
  RunScript(*reg, R"(create HKCR .new all -> 5; create HKCR .zq all -> 0 disp 2 as h1; set h1 "" sz other -> 5;
                     delval h1 "" -> 5; close h1 -> 0; delkey HKCR Leaf -> 5; delkey HKCR None -> 2; begin -> 5;
                     commit -> 5; rollback)");
  EXPECT_EQ(DumpClasses(*reg), listing);
  return ::testing::Test::HasFailure() ? "failed" : "ok";
}

TEST(HiveFiles, AHiveThisProcessMayNotWriteListsAndRefusesEveryWrite) {
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0755);
  // clang-format off
  const struct {
    const char* name;
    mode_t folder, file;  // 0: a read-only mount
  } rows[] = {{"folder 0555", 0555, 0644}, {"folder 0555 file 0444", 0555, 0444}, {"file 0444", 0755, 0444},
              {"read-only mount", 0, 0}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string folder = dir.File(row.name), path = folder + "/registry.db";
    ::mkdir(folder.c_str(), 0700);
    const bool mount = row.folder == 0;
    if (mount && ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m,mode=0700") != 0) continue;  // not allowed here
    std::string listing;
    {
      auto hive = Open(path);
      for (const char* key : {".zq", "Zq.Document\\shell\\open\\command", ".ёлка", "Leaf"}) SeedKey(*hive, key);
      SeedValue(*hive, ".zq", "", REG_SZ, "Zq.Document");
      listing = DumpClasses(*hive);
    }
    const std::string bytes = ReadFile(path);
    if (mount) {
      ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
      EXPECT_EQ(ListsAndIsRefused(path, listing), "ok");
      EXPECT_EQ(Refusal(folder + "/other.db"), Refusal(Status::kFailed, "cannot create the registry hive \"" + folder +
                                                                            "/other.db\": Read-only file system"));
      ::umount2(folder.c_str(), MNT_DETACH);
    } else {
      if (::geteuid() == 0) ::chown(path.c_str(), 65534, 65534), ::chown(folder.c_str(), 65534, 65534);
      ::chmod(path.c_str(), row.file);
      ::chmod(folder.c_str(), row.folder);
      EXPECT_EQ(AsUser([&] { return ListsAndIsRefused(path, listing); }), "ok");
      if (row.folder == 0555) {
        EXPECT_EQ(AsUser([&] { return Refusal(folder + "/other.db"); }),
                  Refusal(Status::kFailed,
                          "cannot create the registry hive \"" + folder + "/other.db\": Permission denied"));
      }
      EXPECT_EQ(ReadFile(path), bytes);
      ::chmod(folder.c_str(), 0700);
      ::chmod(path.c_str(), 0600);
      RunScript(*Open(path), "create HKCR .new -> 0");  // writable again
    }
  }
}

TEST(HiveFiles, ANewHiveIsSeededWholeOnceAndTheDefaultOneWhereTheEnvironmentSays) {
  TempDir dir;
  const std::string path = dir.File("env/registry.db");
  const auto seed = SeedOf(WindowsClassesReg());
  for (int i = 0; i < 4; ++i) {  // first opens at once make one hive
    if (::fork() != 0) continue;
    std::unique_ptr<hive::HiveRegistry> hive;
    ::_exit(hive::OpenHiveSeeded(path, seed, &hive).Ok() && SeedKey(*hive, ".child" + std::to_string(i)) == 0 ? 0 : 1);
  }
  for (int child = 0, status = -1; child < 4; ++child) {
    ASSERT_GT(::wait(&status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::unique_ptr<hive::HiveRegistry> hive;
  ASSERT_TRUE(IsOk(hive::OpenHiveSeeded(path, seed, &hive)));
  EXPECT_EQ(hive->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt\\ShellNew"), 0);
  EXPECT_EQ(hive->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt"), 0);
  for (const char* key : {".child0", ".child3", "txtfile\\shell\\open\\command", "CLSID", "*\\shellex"})
    EXPECT_EQ(DumpTree(*hive, HKEY_CLASSES_ROOT, key).find("error"), std::string::npos) << key;
  hive.reset();
  ASSERT_TRUE(hive::OpenHiveSeeded(path, seed, &hive).Ok());
  EXPECT_EQ(DumpTree(*hive, HKEY_CLASSES_ROOT, ".txt"), "[.txt]\n  error open 2\n") << "seeded again";
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("env")))
    EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos);
  // The default hive starts empty: the desktop provides the associations.
  ::setenv("ZANDREL_HIVE", dir.File("default.db").c_str(), 1);
  ASSERT_TRUE(IsOk(hive::OpenDefaultHive(&hive)));
  EXPECT_EQ(hive->Path(), dir.File("default.db"));
  EXPECT_EQ(DumpTree(*hive, HKEY_CLASSES_ROOT, ""), "[]\n");
  // A seed that fails leaves no file.
  const Status opened =
      hive::OpenHiveSeeded(dir.File("bad/registry.db"),
                           testing::SeedOf("REGEDIT4\n[HKEY_CLASSES_ROOT\\.a]\n[HKEY_CLASSES_ROOT\\.b\n"), &hive);
  EXPECT_EQ(hive, nullptr);
  EXPECT_EQ(Refusal(opened.code, opened.message),
            Refusal(Status::kInvalid, "cannot seed the registry hive \"" + dir.File("bad/registry.db") +
                                          "\": default classes store, line 3: a key line must end with \"]\""));
  EXPECT_FALSE(std::filesystem::exists(dir.File("bad/registry.db")));
  // Where the default hive lives.
  // clang-format off
  const struct {
    const char *hive, *data, *path;
  } rows[] = {{"/tmp/x/hive.db", "/data", "/tmp/x/hive.db"}, {"", "/data", "/data/zandrel/registry.db"},
              {"", "relative", "/home/u/.local/share/zandrel/registry.db"},
              {nullptr, nullptr, "/home/u/.local/share/zandrel/registry.db"}};
  // clang-format on
  ::setenv("HOME", "/home/u", 1);
  for (const auto& row : rows) {
    row.hive ? ::setenv("ZANDREL_HIVE", row.hive, 1) : ::unsetenv("ZANDREL_HIVE");
    row.data ? ::setenv("XDG_DATA_HOME", row.data, 1) : ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(hive::DefaultHivePath(), row.path);
  }
}

// A string the file holds without its NUL (another program wrote it) reads
// back as Windows reads one: with a NUL after it, not counted, when the
// buffer has room.
TEST(HiveValues, AStringStoredWithoutItsNulReadsBackWithOneWhenThereIsRoom) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  ASSERT_EQ(SeedValue(*Open(path), "v", "", REG_SZ, std::string("abc\0", 4)), 0);
  Sql(path, "UPDATE vals SET data = CAST('abc' AS BLOB)");
  RunScript(*Open(path), R"(open HKCR v read -> 0 as h1; enumval h1 0 8 3 -> 0 size 3 "" sz "abc";
                            enumval h1 0 8 4 -> 0 size 3 "" sz "abc" nul; close h1 -> 0)");
}

// A new hive is made with 16 KB pages; one made earlier with SQLite's 4 KB
// keeps them and works as before.
TEST(HiveFiles, ANewHiveHasLargePagesAndAnOlderOneKeepsItsOwn) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  ASSERT_EQ(SeedValue(*Open(path), ".old", "", REG_SZ, std::string("before\0", 7)), 0);
  const auto page_size = [&path](const std::string& change) { return Sql(path, change + "; PRAGMA page_size"); };
  EXPECT_EQ(page_size(""), 16384);
  ASSERT_EQ(page_size("PRAGMA journal_mode = DELETE; PRAGMA page_size = 4096; VACUUM; PRAGMA journal_mode = WAL"),
            4096);
  RunScript(*Open(path), R"(create HKCR .new -> 0; keys HKCR "" = ".new|.old"; open HKCR .old read -> 0 as h1;
                            enumval h1 0 8 16 -> 0 "" sz "before\0"; close h1 -> 0)");
  EXPECT_EQ(page_size(""), 4096);
}

// A commit that frees much of the hive (the history dropping an import's
// records, an import undone) gives the space back to the disk.
TEST(HiveFiles, ShrinksWhenAChangeFreesMostOfIt) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  const auto size = [&path] {
    const std::string wal = path + "-wal";
    return std::filesystem::file_size(path) + (std::filesystem::exists(wal) ? std::filesystem::file_size(wal) : 0);
  };
  auto hive = Open(path);
  ASSERT_EQ(hive->BeginTransaction(), ERROR_SUCCESS);
  for (int i = 0; i < 400; ++i)
    ASSERT_EQ(SeedValue(*hive, "big\\" + std::to_string(i), "", REG_BINARY, std::string(8192, 'x')), ERROR_SUCCESS);
  ASSERT_EQ(hive->CommitTransaction(), ERROR_SUCCESS);
  const auto full = size();
  ASSERT_GT(full, 3'000'000u);
  ASSERT_EQ(hive->BeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(hive->DeleteTrees({{HKEY_CLASSES_ROOT, "big"}}, {}), ERROR_SUCCESS);
  ASSERT_EQ(hive->CommitTransaction(), ERROR_SUCCESS);
  EXPECT_LT(size(), full / 8);
  EXPECT_EQ(DumpTree(*Open(path), HKEY_CLASSES_ROOT, ""), "[]\n");
  ASSERT_EQ(SeedValue(*hive, ".after", "", REG_SZ, "a"), ERROR_SUCCESS) << "the instance goes on after it";
  EXPECT_EQ(DumpTree(*Open(path), HKEY_CLASSES_ROOT, ""), "[]\n[.after]\n  \"\" type 1: 61 00\n");
}

// After every step of a random program of calls, the instance that made it
// (its caches warm) and another long-lived one read the same tree as an
// instance opened afresh on the file.
TEST(HiveCache, InstancesNeverDriftFromTheFile) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  auto cached = Open(path), other = Open(path);
  std::mt19937 rng(7);
  const std::vector<std::string> names = {".zq",    ".ZQ",     "Zq Title", "zq title", "ёлка",  "ЁЛКА",
                                          "shell",  "b",       "A",        "B2",       "._sln", ".zip",
                                          "straße", "STRASSE", "Key001",   "key002",   "KEY003"};
  auto pick = [&](const std::vector<std::string>& pool) { return pool[rng() % pool.size()]; };
  bool inTransaction = false;
  for (int step = 0; step < 600; ++step) {
    IRegistry& r = (rng() % 4 == 0 && !inTransaction) ? *other : *cached;
    std::string p = pick(names);
    for (int depth = rng() % 3; depth > 0; --depth) p += "\\" + pick(names);
    const int op = rng() % 10;
    HKEY key = 0;
    if (op < 3) {
      SeedKey(r, p);
    } else if (op < 5) {
      SeedValue(r, p, pick({"", "Val", "VAL"}), rng() % 2 ? REG_SZ : REG_BINARY, std::string(rng() % 6, 'd'));
    } else if (op < 7) {
      r.RegDeleteKeyA(HKEY_CLASSES_ROOT, p.c_str());
    } else if (op == 7 && r.RegOpenKeyExA(HKEY_CLASSES_ROOT, p.c_str(), 0, KEY_ALL_ACCESS, &key) == 0) {
      r.RegDeleteValueA(key, pick({"", "Val"}).c_str());
      r.RegCloseKey(key);
    } else if (op == 8 && !inTransaction && &r == cached.get()) {
      inTransaction = cached->BeginTransaction() == 0;
    } else if (op == 9 && inTransaction) {
      rng() % 2 ? static_cast<void>(cached->CommitTransaction()) : cached->RollbackTransaction();
      inTransaction = false;
    }
    if (inTransaction) continue;
    const std::string fresh = DumpClasses(*Open(path));
    ASSERT_EQ(DumpClasses(*cached), fresh) << "step " << step;
    ASSERT_EQ(DumpClasses(*other), fresh) << "step " << step;
  }
}

}  // namespace
}  // namespace zandrel::testing
