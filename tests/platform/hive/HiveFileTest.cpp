// The hive as a file: durability, sharing between instances and processes,
// transactions, refusal of files that are not hives, file modes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HiveTestSupport.h"

namespace zandrel::hive::testing {
namespace {

using HiveDurability = HiveTest;

TEST_F(HiveDurability, WrittenThroughOneInstanceReadThroughAFreshOne) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "Zq_Title\\shell\\open\\command"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, "Zq_Title\\shell\\open\\command", "",
                      "C:\\Windows\\notepad.exe %1"),
            0);
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zq"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zq", "", "Zq_Title"), 0);
  const std::string expected = Dump(*reg_, HKEY_CLASSES_ROOT, "");
  reg_.reset();
  auto fresh = Reopen();
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(Dump(*fresh, HKEY_CLASSES_ROOT, ""), expected);
  EXPECT_EQ(Dump(*fresh, HKEY_CLASSES_ROOT, "zq_title\\Shell\\Open\\Command"),
            "[]\n\"\" = 1:433a5c57696e646f77735c6e6f74657061642e65786520253100\n");
}

TEST_F(HiveDurability, SecondInstanceSeesCommitsAtOnce) {
  auto other = Reopen();
  ASSERT_NE(other, nullptr);
  // Warm the other instance's caches first.
  EXPECT_EQ(Dump(*other, HKEY_CLASSES_ROOT, ""), "[]\n");
  HKEY held = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".a", &held), 0);
  EXPECT_EQ(Dump(*other, HKEY_CLASSES_ROOT, ""), "[]\n[.a]\n");
  HKEY other_handle = 0;
  ASSERT_EQ(other->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".a", 0, KEY_ACCESS_0x3F, &other_handle), 0);
  ASSERT_EQ(SetString(*other, HKEY_CLASSES_ROOT, ".a", "", "afile"), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".a"), "[]\n\"\" = 1:6166696c6500\n");
  // A key deleted by one instance is deleted for the other's handles too.
  ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".a"), 0);
  EXPECT_EQ(
      other->RegSetValueExA(other_handle, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1),
      ERROR_KEY_DELETED);
  EXPECT_EQ(Dump(*other, HKEY_CLASSES_ROOT, ""), "[]\n");
  other->RegCloseKey(other_handle);
  reg_->RegCloseKey(held);
}

// More single-name lookups under one key than are remembered one by one
// (the key's whole child list is loaded then): every answer stays right, the
// listing afterwards is whole and in order, and what another instance adds
// or deletes later is seen both ways.
TEST_F(HiveDurability, ManyLookupsUnderOneKeyThenListingAndOtherWriters) {
  auto name = [](int i) {
    char text[16];
    std::snprintf(text, sizeof text, "Key%03d", i);
    return std::string(text);
  };
  constexpr int kNames = 90;  // even numbers exist, odd ones do not
  std::vector<std::string> expected;
  for (int i = 0; i < kNames; i += 2) {
    ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "many\\" + name(i)), 0);
    expected.push_back(name(i));
  }
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "many\\ёлка"), 0);
  expected.push_back("ёлка");  // bytes above every ASCII name
  auto first = Reopen();
  ASSERT_NE(first, nullptr);
  HKEY many = 0;
  ASSERT_EQ(first->RegOpenKeyExA(HKEY_CLASSES_ROOT, "MANY", 0, KEY_READ, &many), 0);
  auto list = [&]() {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
      char text[64];
      DWORD length = sizeof text;
      const LONG code =
          first->RegEnumKeyExA(many, index, text, &length, nullptr, nullptr, nullptr, nullptr);
      if (code == ERROR_NO_MORE_ITEMS) break;
      if (code != ERROR_SUCCESS) {
        names.push_back(std::string("!").append(std::to_string(code)));
        break;
      }
      names.emplace_back(text, length);
    }
    return names;
  };
  auto lookup = [&](const std::string& path) {
    HKEY key = 0xDEAD;
    const LONG code = first->RegOpenKeyExA(many, path.c_str(), 0, KEY_READ, &key);
    if (code == ERROR_SUCCESS) {
      EXPECT_NE(key, 0u);
      first->RegCloseKey(key);
    } else {
      EXPECT_EQ(key, 0u) << path;
    }
    return code;
  };
  // Out of order and in changing case, every name twice, so that names are
  // met again after the switch to the whole list.
  for (int round = 0; round < 2; ++round) {
    for (int step = 0; step < kNames; ++step) {
      const int i = (step * 37 + round) % kNames;
      std::string asked = name(i);
      if ((step + round) % 3 == 0) asked[0] = 'k';
      if ((step + round) % 2 == 0) asked[1] = 'E';
      EXPECT_EQ(lookup(asked), i % 2 == 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND)
          << asked << " round " << round;
    }
  }
  EXPECT_EQ(lookup("ЁЛКА"), ERROR_SUCCESS);
  EXPECT_EQ(lookup("Key000\\missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(list(), expected);

  auto second = Reopen();
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(CreateKey(*second, HKEY_CLASSES_ROOT, "many\\Key001"), 0);  // looked up, was missing
  ASSERT_EQ(CreateKey(*second, HKEY_CLASSES_ROOT, "many\\Key500"), 0);  // never looked up
  expected.insert(expected.begin() + 1, "Key001");
  expected.insert(expected.end() - 1, "Key500");
  EXPECT_EQ(lookup("key001"), ERROR_SUCCESS);
  EXPECT_EQ(lookup("KEY500"), ERROR_SUCCESS);
  EXPECT_EQ(list(), expected);

  ASSERT_EQ(second->RegDeleteKeyA(HKEY_CLASSES_ROOT, "many\\Key000"), 0);
  expected.erase(expected.begin());
  EXPECT_EQ(lookup("Key000"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(lookup("Key002"), ERROR_SUCCESS);
  EXPECT_EQ(list(), expected);
  EXPECT_EQ(first->RegCloseKey(many), 0);
}

TEST_F(HiveDurability, AnotherProcessReadsAndWrites) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".parent"), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A separate process with its own connection.
    std::string error;
    auto reg = OpenHive(hive_path_, &error);
    int status = 1;
    if (reg && KeyExists(*reg, HKEY_CLASSES_ROOT, ".PARENT") &&
        CreateKey(*reg, HKEY_CLASSES_ROOT, ".child") == 0 &&
        SetString(*reg, HKEY_CLASSES_ROOT, ".child", "", "from child") == 0) {
      status = 0;
    }
    reg.reset();
    ::_exit(status);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".child"), "[]\n\"\" = 1:66726f6d206368696c6400\n");
}

TEST_F(HiveDurability, KilledWriterLeavesAnIntactHive) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".before"), 0);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe_fds[0]);
    std::string error;
    auto reg = OpenHive(hive_path_, &error);
    if (!reg) ::_exit(1);
    // Write keys forever, in whole transactions and single calls, telling
    // the parent once the first transaction is in.
    for (int i = 0;; ++i) {
      reg->BeginTransaction();
      for (int j = 0; j < 20; ++j) {
        CreateKey(*reg, HKEY_CLASSES_ROOT, std::string("t").append(std::to_string(i)).append("\\k").append(std::to_string(j)));
      }
      reg->CommitTransaction();
      CreateKey(*reg, HKEY_CLASSES_ROOT, "single" + std::to_string(i));
      if (i == 0) {
        const char byte = 1;
        if (::write(pipe_fds[1], &byte, 1) != 1) ::_exit(2);
      }
    }
  }
  ::close(pipe_fds[1]);
  char byte = 0;
  ASSERT_EQ(::read(pipe_fds[0], &byte, 1), 1);
  ::close(pipe_fds[0]);
  ::usleep(50000);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  reg_.reset();

  auto fresh = Reopen();
  ASSERT_NE(fresh, nullptr);
  EXPECT_TRUE(KeyExists(*fresh, HKEY_CLASSES_ROOT, ".before"));
  EXPECT_TRUE(KeyExists(*fresh, HKEY_CLASSES_ROOT, "t0\\k19"));
  // Every transaction is there whole or not at all.
  for (int i = 0;; ++i) {
    const std::string base = std::string("t").append(std::to_string(i));
    if (!KeyExists(*fresh, HKEY_CLASSES_ROOT, base)) break;
    EXPECT_TRUE(KeyExists(*fresh, HKEY_CLASSES_ROOT, base + "\\k19")) << base;
  }
  // And it still takes writes.
  EXPECT_EQ(CreateKey(*fresh, HKEY_CLASSES_ROOT, ".after"), 0);
}

// ---------------------------------------------------------------------------

using HiveTransactions = HiveTest;

TEST_F(HiveTransactions, RollbackLeavesNothing) {
  ASSERT_EQ(reg_->BeginTransaction(), 0);
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".gone\\sub"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".gone", "", "x"), 0);
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".gone\\sub")) << "own changes are visible";
  reg_->RollbackTransaction();
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), "[]\n");
  EXPECT_EQ(Dump(*Reopen(), HKEY_CLASSES_ROOT, ""), "[]\n");
}

TEST_F(HiveTransactions, CommitLandsAndOthersSeeItOnlyThen) {
  auto other = Reopen();
  ASSERT_NE(other, nullptr);
  {
    RegistryTransaction transaction(*reg_);
    ASSERT_EQ(transaction.BeginCode(), 0);
    ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".new"), 0);
    ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".new", "", "newfile"), 0);
    EXPECT_EQ(Dump(*other, HKEY_CLASSES_ROOT, ""), "[]\n") << "not yet committed";
    ASSERT_EQ(transaction.Commit(), 0);
  }
  EXPECT_EQ(Dump(*other, HKEY_CLASSES_ROOT, ""), "[]\n[.new]\n\"\" = 1:6e657766696c6500\n");
}

TEST_F(HiveTransactions, ScopeEndingWithoutCommitRollsBack) {
  {
    RegistryTransaction transaction(*reg_);
    ASSERT_EQ(transaction.BeginCode(), 0);
    ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".new"), 0);
  }
  EXPECT_FALSE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".new"));
}

TEST_F(HiveTransactions, FailingCallInsideScopeUndoesOnlyItself) {
  ASSERT_EQ(reg_->BeginTransaction(), 0);
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".kept"), 0);
  std::string deep = "fresh";
  for (int i = 0; i < 600; ++i) deep += "\\d";
  EXPECT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, deep), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(reg_->CommitTransaction(), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), "[]\n[.kept]\n");
}

TEST_F(HiveTransactions, ScopesDoNotNestAndCommitNeedsAScope) {
  EXPECT_EQ(reg_->CommitTransaction(), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(reg_->BeginTransaction(), 0);
  EXPECT_EQ(reg_->BeginTransaction(), ERROR_INVALID_PARAMETER);
  reg_->RollbackTransaction();
  reg_->RollbackTransaction();  // harmless
}

// ---------------------------------------------------------------------------

struct BadFileRow {
  const char* label;
  std::string bytes;
  std::string reason;
};

void PrintTo(const BadFileRow& row, std::ostream* os) { *os << row.label; }

class NotAHive : public ::testing::TestWithParam<BadFileRow> {};

TEST_P(NotAHive, RefusedWithClearErrorAndLeftUnchanged) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  WriteFile(path, GetParam().bytes);
  std::string error;
  EXPECT_EQ(OpenHive(path, &error), nullptr);
  EXPECT_EQ(error, "\"" + path + "\" is not a registry hive: " + GetParam().reason);
  EXPECT_EQ(ReadFile(path), GetParam().bytes);
  EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
}

std::string RandomBytes() {
  std::string bytes;
  unsigned state = 12345;
  for (int i = 0; i < 4096; ++i) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(state >> 16));
  }
  return bytes;
}

// A SQLite file that is not a hive: a real hive with its application id cleared.
std::string ForeignSqlite() {
  TempDir dir;
  const std::string path = dir.File("other.db");
  std::string error;
  OpenHive(path, &error).reset();
  std::string bytes = ReadFile(path);
  if (bytes.size() >= 72) bytes.replace(68, 4, std::string(4, '\0'));
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, NotAHive,
    ::testing::Values(
        BadFileRow{"Empty", "", "the file is empty"},
        BadFileRow{"Text",
                   "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.x]\r\n",
                   "not a SQLite database"},
        BadFileRow{"RandomBytes", RandomBytes(), "not a SQLite database"},
        BadFileRow{"ShortHeader", std::string("SQLite format 3\0", 16), "not a SQLite database"},
        BadFileRow{"ForeignSqlite", ForeignSqlite(), "a SQLite database of another kind"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(HiveFiles, TruncatedHiveGivesErrorNamingTheFile) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  {
    std::string error;
    auto reg = OpenHive(path, &error);
    ASSERT_NE(reg, nullptr) << error;
    for (int i = 0; i < 200; ++i) CreateKey(*reg, HKEY_CLASSES_ROOT, "key" + std::to_string(i));
  }
  std::string bytes = ReadFile(path);
  ASSERT_GT(bytes.size(), 4096u);
  bytes.resize(bytes.size() / 2 + 100);
  WriteFile(path, bytes);
  std::string error;
  auto reg = OpenHive(path, &error);
  EXPECT_EQ(reg, nullptr);
  EXPECT_EQ(error,
            "cannot open the registry hive \"" + path + "\": database disk image is malformed");
  EXPECT_EQ(ReadFile(path), bytes) << "left as it was";
}

TEST(HiveFiles, FolderIsNotAHive) {
  TempDir dir;
  std::string error;
  EXPECT_EQ(OpenHive(dir.Path(), &error), nullptr);
  EXPECT_EQ(error, "\"" + dir.Path() + "\" is not a registry hive: not a regular file");
}

TEST(HiveFiles, CreatedWithPrivateModes) {
  TempDir dir;
  const std::string path = dir.File("a/b/registry.db");
  const mode_t old_mask = ::umask(0);
  std::string error;
  auto reg = OpenHive(path, &error);
  ::umask(old_mask);
  ASSERT_NE(reg, nullptr) << error;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(dir.File("a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(dir.File("a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // No leftovers of the creation next to the hive.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("a/b"))) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.db" || name == "registry.db-wal" || name == "registry.db-shm")
        << name;
    ++entries;
  }
  EXPECT_GE(entries, 1);
}

TEST(HiveFiles, UnreachableFolderGivesErrorNamingTheFile) {
  TempDir dir;
  WriteFile(dir.File("plain"), "x");
  const std::string path = dir.File("plain/registry.db");
  std::string error;
  EXPECT_EQ(OpenHive(path, &error), nullptr);
  EXPECT_NE(error.find("\"" + path + "\""), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

TEST(HiveFiles, DefaultPathFollowsEnvironment) {
  const char* saved_hive = std::getenv("ZANDREL_HIVE");
  const char* saved_data = std::getenv("XDG_DATA_HOME");
  const char* saved_home = std::getenv("HOME");
  const std::string keep_hive = saved_hive ? saved_hive : "";
  const std::string keep_data = saved_data ? saved_data : "";
  const std::string keep_home = saved_home ? saved_home : "";
  ::setenv("ZANDREL_HIVE", "/tmp/x/hive.db", 1);
  ::setenv("XDG_DATA_HOME", "/data", 1);
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(DefaultHivePath(), "/tmp/x/hive.db");
  ::unsetenv("ZANDREL_HIVE");
  EXPECT_EQ(DefaultHivePath(), "/data/zandrel/registry.db");
  ::setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(DefaultHivePath(), "/home/u/.local/share/zandrel/registry.db");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultHivePath(), "/home/u/.local/share/zandrel/registry.db");
  auto restore = [](const char* name, const char* saved, const std::string& value) {
    if (saved) {
      ::setenv(name, value.c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  };
  restore("ZANDREL_HIVE", saved_hive, keep_hive);
  restore("XDG_DATA_HOME", saved_data, keep_data);
  restore("HOME", saved_home, keep_home);
}

}  // namespace
}  // namespace zandrel::hive::testing
