// Backend failures: one mapping to registry codes, a bounded wait for another
// writer, and a write the file system refuses changing nothing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "HiveTestSupport.h"
#include "platform/hive/HiveErrors.h"

namespace zandrel::hive::testing {
namespace {

TEST(HiveErrors, SqliteCodesMapToRegistryCodes) {
  const struct {
    int sqlite;
    LONG expected;
  } rows[] = {
      {SQLITE_OK, ERROR_SUCCESS},
      {SQLITE_ROW, ERROR_SUCCESS},
      {SQLITE_DONE, ERROR_SUCCESS},
      {SQLITE_BUSY, ERROR_BUSY},
      {SQLITE_BUSY_SNAPSHOT, ERROR_BUSY},
      {SQLITE_LOCKED, ERROR_BUSY},
      {SQLITE_FULL, ERROR_DISK_FULL},
      {SQLITE_IOERR, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_IOERR_WRITE, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_IOERR_SHORT_READ, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_CANTOPEN, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_PROTOCOL, ERROR_REGISTRY_IO_FAILED},
      {SQLITE_NOTADB, ERROR_BADDB},
      {SQLITE_CORRUPT, ERROR_BADDB},
      {SQLITE_CORRUPT_INDEX, ERROR_BADDB},
      {SQLITE_READONLY, ERROR_ACCESS_DENIED},
      {SQLITE_READONLY_DBMOVED, ERROR_ACCESS_DENIED},
      {SQLITE_PERM, ERROR_ACCESS_DENIED},
      {SQLITE_NOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {SQLITE_TOOBIG, ERROR_INVALID_PARAMETER},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(sqlite3_errstr(row.sqlite));
    EXPECT_EQ(CodeFromSqlite(row.sqlite), row.expected);
  }
}

using HiveContention = HiveTest;

TEST_F(HiveContention, WriterWaitsForAnotherProcessTransaction) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    std::string error;
    auto reg = OpenHive(hive_path_, &error);
    if (!reg || reg->BeginTransaction() != 0) ::_exit(1);
    CreateKey(*reg, HKEY_CLASSES_ROOT, ".held");
    const char byte = 1;
    if (::write(ready[1], &byte, 1) != 1) ::_exit(2);
    ::usleep(300000);  // hold the write lock a while
    ::_exit(reg->CommitTransaction() == 0 ? 0 : 3);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  // Readers are not held up, and see nothing of the open transaction.
  EXPECT_FALSE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".held"));
  // A writer waits, then goes ahead after the other's commit.
  EXPECT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".mine"), 0);
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".held"));
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The file system refuses to let the hive grow (a full disk, a quota): the
// failing call answers a failure code, changes nothing, and the hive stays
// usable for everything that fits.
TEST_F(HiveContention, RefusedWriteChangesNothing) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".before"), 0);
  reg_.reset();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    std::string error;
    auto reg = OpenHive(hive_path_, &error);
    if (!reg) ::_exit(10);
    struct stat st {};
    ::stat(hive_path_.c_str(), &st);
    const rlimit limit{static_cast<rlim_t>(st.st_size) + 8192,
                       static_cast<rlim_t>(st.st_size) + 8192};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::string big(4000, 'x');
    for (int i = 0; i < 200; ++i) {
      HKEY key = 0;
      const std::string name = ".big" + std::to_string(i);
      LONG code = reg->RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, "", 0, KEY_ACCESS_0x3F,
                                       nullptr, &key, nullptr);
      if (code == 0) {
        code = reg->RegSetValueExA(key, "", 0, REG_BINARY,
                                   reinterpret_cast<const BYTE*>(big.data()), 4000);
        reg->RegCloseKey(key);
      }
      // A file size limit comes back from the system as EFBIG, which is an
      // I/O failure to SQLite (ENOSPC would be ERROR_DISK_FULL).
      if (code != 0) ::_exit(i == 0 ? 11 : code == ERROR_REGISTRY_IO_FAILED ? 0 : 12);
    }
    ::_exit(13);  // never refused
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  reg_ = Reopen();
  ASSERT_NE(reg_, nullptr);
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".before"));
  // Every .bigN key present has its whole value: no call half-done.
  for (int i = 0; KeyExists(*reg_, HKEY_CLASSES_ROOT, ".big" + std::to_string(i)); ++i) {
    HKEY key = 0;
    ASSERT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, (".big" + std::to_string(i)).c_str(), 0,
                                  KEY_READ, &key),
              0);
    char name[16];
    DWORD name_length = sizeof name, size = 0, type = 0;
    const LONG code =
        reg_->RegEnumValueA(key, 0, name, &name_length, nullptr, &type, nullptr, &size);
    reg_->RegCloseKey(key);
    // The key of the refused call may exist without its value; any value is whole.
    if (code == 0) {
      EXPECT_EQ(size, 4000u) << i;
    }
  }
  EXPECT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".after"), 0);
}

}  // namespace
}  // namespace zandrel::hive::testing
