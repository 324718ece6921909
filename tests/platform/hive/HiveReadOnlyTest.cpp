// A hive this process may not write: on a read-only mount, in a folder or a
// file without write permission. It opens for reading, lists as usual, and
// every write answers 5 and leaves the file byte for byte as it was.
//
// Root passes over permission bits, so those cases run in a child process
// that drops to the user nobody when the test runs as root.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "HiveTestSupport.h"

namespace zandrel::hive::testing {
namespace {

constexpr uid_t kNobody = 65534;

// Runs `work` in a child process, as nobody when this process is root, and
// returns what it returned. A child that fails to become nobody or dies
// returns "child failed".
std::string InChild(const std::function<std::string()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(6);
    const std::string result = work();
    if (::write(fds[1], result.data(), result.size()) < 0) ::_exit(7);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
  return result;
}

// A hive holding a little of everything, closed (its WAL folded back in).
std::string MakeHive(const std::string& path) {
  std::string error;
  auto reg = OpenHive(path, &error);
  EXPECT_NE(reg, nullptr) << error;
  if (!reg) return "";
  for (const char* key : {".zq", "Zq.Document\\shell\\open\\command", ".ёлка", "Leaf"}) {
    EXPECT_EQ(CreateKey(*reg, HKEY_CLASSES_ROOT, key), 0) << key;
  }
  EXPECT_EQ(SetString(*reg, HKEY_CLASSES_ROOT, ".zq", "", "Zq.Document"), 0);
  EXPECT_EQ(SetString(*reg, HKEY_CLASSES_ROOT, "Zq.Document\\shell\\open\\command", "",
                      "/usr/bin/zq %1"),
            0);
  EXPECT_EQ(SetString(*reg, HKEY_CLASSES_ROOT, ".ёлка", "Content Type", "text/plain"), 0);
  return Dump(*reg, HKEY_CLASSES_ROOT, "");
}

// Opens the hive at path and tries every kind of write. The result holds the
// listing before and after and each call's code, one per line.
std::string ListAndTryWrites(const std::string& path) {
  std::string error;
  auto reg = OpenHive(path, &error);
  if (!reg) return "open failed: " + error;
  std::string out = Dump(*reg, HKEY_CLASSES_ROOT, "");
  auto line = [&](const char* what, LONG code) {
    out += std::string(what) + " " + std::to_string(code) + "\n";
  };
  HKEY key = 0xDEAD;
  DWORD disposition = 0;
  line("create new", reg->RegCreateKeyExA(HKEY_CLASSES_ROOT, ".new", 0, "", 0, KEY_ALL_ACCESS,
                                          nullptr, &key, &disposition));
  line("create new handle", static_cast<LONG>(key));
  line("create bogus handle", reg->RegCreateKeyExA(0x7654320, "x", 0, "", 0, KEY_ALL_ACCESS,
                                                   nullptr, &key, nullptr));
  // An existing key is only opened: nothing is written.
  line("create existing", reg->RegCreateKeyExA(HKEY_CLASSES_ROOT, ".zq", 0, "", 0,
                                               KEY_ALL_ACCESS, nullptr, &key, &disposition));
  line("disposition", static_cast<LONG>(disposition));
  const BYTE data[] = "other";
  line("set value", reg->RegSetValueExA(key, "", 0, REG_SZ, data, sizeof data));
  line("set new value", reg->RegSetValueExA(key, "new", 0, REG_SZ, data, sizeof data));
  line("delete value", reg->RegDeleteValueA(key, ""));
  line("delete missing value", reg->RegDeleteValueA(key, "none"));
  line("close", reg->RegCloseKey(key));
  line("delete key", reg->RegDeleteKeyA(HKEY_CLASSES_ROOT, "Leaf"));
  line("delete missing key", reg->RegDeleteKeyA(HKEY_CLASSES_ROOT, "None"));
  line("begin", reg->BeginTransaction());
  line("commit", reg->CommitTransaction());
  reg->RollbackTransaction();
  out += Dump(*reg, HKEY_CLASSES_ROOT, "");
  return out;
}

std::string Expected(const std::string& listing) {
  return listing +
         "create new 5\n"
         "create new handle 0\n"
         "create bogus handle 6\n"
         "create existing 0\n"
         "disposition 2\n"
         "set value 5\n"
         "set new value 5\n"
         "delete value 5\n"
         "delete missing value 5\n"
         "close 0\n"
         "delete key 5\n"
         "delete missing key 2\n"
         "begin 5\n"
         "commit 5\n" +
         listing;
}

struct PermissionRow {
  const char* label;
  mode_t folder_mode;
  mode_t file_mode;
};
void PrintTo(const PermissionRow& row, std::ostream* os) { *os << row.label; }

class ReadOnlyByPermission : public ::testing::TestWithParam<PermissionRow> {};

TEST_P(ReadOnlyByPermission, ListsAndRefusesEveryWrite) {
  const PermissionRow& row = GetParam();
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  const std::string folder = dir.File("hive");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string path = folder + "/registry.db";
  const std::string listing = MakeHive(path);
  ASSERT_NE(listing, "");
  const std::string bytes = ReadFile(path);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  }
  ASSERT_EQ(::chmod(path.c_str(), row.file_mode), 0);
  ASSERT_EQ(::chmod(folder.c_str(), row.folder_mode), 0);
  EXPECT_EQ(InChild([&] { return ListAndTryWrites(path); }), Expected(listing));
  EXPECT_EQ(ReadFile(path), bytes);
  ::chmod(folder.c_str(), 0700);
  ::chmod(path.c_str(), 0600);
  // Still a sound hive for whoever may write it.
  std::string error;
  auto reg = OpenHive(path, &error);
  ASSERT_NE(reg, nullptr) << error;
  EXPECT_EQ(Dump(*reg, HKEY_CLASSES_ROOT, ""), listing);
  EXPECT_EQ(CreateKey(*reg, HKEY_CLASSES_ROOT, ".new"), 0);
}

INSTANTIATE_TEST_SUITE_P(Hive, ReadOnlyByPermission,
                         ::testing::Values(PermissionRow{"Folder0555", 0555, 0644},
                                           PermissionRow{"Folder0555File0444", 0555, 0444},
                                           PermissionRow{"File0444", 0755, 0444}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ReadOnlyHive, MissingHiveInReadOnlyFolderNamesTheFile) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  const std::string folder = dir.File("empty");
  ASSERT_EQ(::mkdir(folder.c_str(), 0555), 0);
  const std::string path = folder + "/registry.db";
  EXPECT_EQ(InChild([&] {
              std::string error;
              auto reg = OpenHive(path, &error);
              return reg ? std::string("opened") : error;
            }),
            "cannot create the registry hive \"" + path + "\": Permission denied");
  struct stat st {};
  EXPECT_NE(::stat(path.c_str(), &st), 0);
}

TEST(ReadOnlyHive, NotAHiveStaysRefusedWhenReadOnly) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  const std::string path = dir.File("registry.db");
  const std::string junk(4096, 'x');
  WriteFile(path, junk);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_EQ(InChild([&] {
              std::string error;
              auto reg = OpenHive(path, &error);
              return reg ? std::string("opened") : error;
            }),
            "\"" + path + "\" is not a registry hive: not a SQLite database");
  EXPECT_EQ(ReadFile(path), junk);
}

// A small tmpfs; the test is skipped where mounting is not allowed.
class Tmpfs {
 public:
  explicit Tmpfs(const std::string& path) : path_(path) {
    ::mkdir(path.c_str(), 0700);
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m,mode=0700") == 0;
    if (!mounted_) error_ = std::strerror(errno);
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  Tmpfs(const Tmpfs&) = delete;
  Tmpfs& operator=(const Tmpfs&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }
  bool Remount(bool read_only) {
    return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | (read_only ? MS_RDONLY : 0),
                   nullptr) == 0;
  }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

TEST(ReadOnlyHive, OnAReadOnlyMount) {
  TempDir dir;
  const std::string mount_point = dir.File("ro");
  Tmpfs tmpfs(mount_point);
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << tmpfs.error();
  const std::string path = mount_point + "/registry.db";
  const std::string listing = MakeHive(path);
  ASSERT_NE(listing, "");
  const std::string bytes = ReadFile(path);
  ASSERT_TRUE(tmpfs.Remount(true)) << std::strerror(errno);
  EXPECT_EQ(ListAndTryWrites(path), Expected(listing));
  // Two readers at once, and a missing hive beside them.
  {
    std::string error;
    auto one = OpenHive(path, &error);
    ASSERT_NE(one, nullptr) << error;
    auto two = OpenHive(path, &error);
    ASSERT_NE(two, nullptr) << error;
    EXPECT_EQ(Dump(*one, HKEY_CLASSES_ROOT, ""), listing);
    EXPECT_EQ(Dump(*two, HKEY_CLASSES_ROOT, ""), listing);
    const std::string missing = mount_point + "/other.db";
    EXPECT_EQ(OpenHive(missing, &error), nullptr);
    EXPECT_EQ(error, "cannot create the registry hive \"" + missing + "\": Read-only file system");
  }
  EXPECT_EQ(ReadFile(path), bytes);
  ASSERT_TRUE(tmpfs.Remount(false)) << std::strerror(errno);
  std::string error;
  auto reg = OpenHive(path, &error);
  ASSERT_NE(reg, nullptr) << error;
  EXPECT_EQ(Dump(*reg, HKEY_CLASSES_ROOT, ""), listing);
  EXPECT_EQ(CreateKey(*reg, HKEY_CLASSES_ROOT, ".new"), 0);
}

}  // namespace
}  // namespace zandrel::hive::testing
