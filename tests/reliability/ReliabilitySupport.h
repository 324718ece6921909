// Helpers of the reliability tests: scratch folders on a memory file system,
// hive files copied and checked, work run in a child process, a registry that
// dies at a chosen write, and the manager window driven headless.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "manager/frmZandrel.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/hive/Hive.h"
#include "registry/Registry.h"

namespace zandrel::testing {

// A fresh folder (mode 0700) under /dev/shm when there is one (a process that
// is killed loses nothing that a disk would keep, and tests stay quick), else
// under the temporary folder; removed with its contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string WriteFile(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);

// Removes a hive file with its -wal, -shm and -journal companions.
void RemoveHiveFiles(const std::string& path);
// Copies the hive file `from` (which no connection may hold open) to `to`,
// replacing `to` and its companions.
void CopyHive(const std::string& from, const std::string& to);
// Opens a hive; fails the test (and returns null) when it cannot.
std::unique_ptr<hive::HiveRegistry> MustOpenHive(const std::string& path);
// PRAGMA integrity_check on the file through SQLite itself: "ok" or the problems.
std::string IntegrityCheck(const std::string& path);

// Runs `work` in a child process, which ends with _exit(0) after it (or with
// status 3 when it throws). Returns the raw wait status.
int RunInChild(const std::function<void()>& work);
std::string DescribeStatus(int status);

// Registry calls that change the store, for kill and fault points.
bool IsWriteCall(const std::string& op);

// Passes every call on; raises SIGKILL just before (point 2n - 1) or just
// after (point 2n) the nth call that changes the registry: create, set value,
// delete key, delete value, begin, commit and rollback. Point 0 kills nowhere.
class KillingRegistry : public IRegistry {
 public:
  KillingRegistry(IRegistry& inner, std::uint64_t point) : inner_(inner), point_(point) {}
  // Changing calls so far.
  std::uint64_t Writes() const { return writes_; }

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override;
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                     DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override;
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override;
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                      DWORD cbData) override;
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  LONG RegCloseKey(HKEY hKey) override;
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override;
  LONG BeginTransaction() override;
  LONG CommitTransaction() override;
  void RollbackTransaction() override;

 private:
  template <typename Call>
  auto Write(Call&& call) {
    ++writes_;
    if (point_ == 2 * writes_ - 1) Die();
    auto result = call();
    if (point_ == 2 * writes_) Die();
    return result;
  }
  [[noreturn]] static void Die();

  IRegistry& inner_;
  std::uint64_t point_;
  std::uint64_t writes_ = 0;
};

// The manager window, loaded and shown on the headless platform over
// `registry`, with its pictures in a scratch folder.
class HeadlessManager {
 public:
  explicit HeadlessManager(IRegistry& registry);
  ~HeadlessManager();

  // Add mode, the three fields typed, the update box as given, proceed.
  void Add(const std::string& ext, const std::string& title, const std::string& program, bool updateList = false);
  // Remove mode (no row selected), the two fields typed, proceed; the
  // question is answered yes.
  void Remove(const std::string& ext, const std::string& title, bool updateList = false);
  // Proceed again with the fields as they are (answering yes to a question).
  void ProceedAgain();
  std::vector<std::string> Texts() const;

  ScratchDir dir;
  ui::HeadlessPlatform platform;
  std::unique_ptr<manager::frmZandrel> form;
};

// The messages of a successful add and removal with the update box unticked.
inline constexpr const char* kAddDone = "Всё прошло успешно.";
std::string RemoveQuestion(const std::string& ext, bool withTitle);
std::string RemoveDone(const std::string& ext);
std::string RemoveFailed(const std::string& ext);

}  // namespace zandrel::testing
