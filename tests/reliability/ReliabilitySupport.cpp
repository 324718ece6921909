#include "reliability/ReliabilitySupport.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/TestFolders.h"

namespace zandrel::testing {

ScratchDir::ScratchDir() {
  std::string base = "/dev/shm";
  struct stat st {};
  if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(base.c_str(), W_OK) != 0)
    base = std::filesystem::temp_directory_path().string();
  std::string pattern = base + "/zandrel-rel-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::WriteFile(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path full = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full.string());
  return full.string();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void RemoveHiveFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

void CopyHive(const std::string& from, const std::string& to) {
  RemoveHiveFiles(to);
  const std::string bytes = ReadFile(from);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  ::chmod(to.c_str(), 0600);
}

std::unique_ptr<hive::HiveRegistry> MustOpenHive(const std::string& path) {
  std::string error;
  auto hive = hive::OpenHive(path, &error);
  EXPECT_NE(hive, nullptr) << error;
  return hive;
}

std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::string result;
  if (rc != SQLITE_OK) {
    result = std::string("cannot open: ") + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  } else {
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
    while (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
      if (!result.empty()) result += "; ";
      result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    if (rc != SQLITE_OK) result = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
  }
  sqlite3_close_v2(db);
  return result;
}

int RunInChild(const std::function<void()>& work) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int code = 0;
    try {
      work();
    } catch (...) {
      code = 3;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
  return "status " + std::to_string(status);
}

void KillingRegistry::Die() {
  ::raise(SIGKILL);
  std::abort();
}

LONG KillingRegistry::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    HKEY* phkResult) {
  return inner_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}
LONG KillingRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                    char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  return inner_.RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime);
}
LONG KillingRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                    DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  return inner_.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
}
LONG KillingRegistry::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                      DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                      HKEY* phkResult, DWORD* lpdwDisposition) {
  return Write([&] {
    return inner_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                  phkResult, lpdwDisposition);
  });
}
LONG KillingRegistry::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE* lpData, DWORD cbData) {
  return Write([&] { return inner_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData); });
}
LONG KillingRegistry::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  return Write([&] { return inner_.RegDeleteKeyA(hKey, lpSubKey); });
}
LONG KillingRegistry::RegCloseKey(HKEY hKey) { return inner_.RegCloseKey(hKey); }
LONG KillingRegistry::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  return Write([&] { return inner_.RegDeleteValueA(hKey, lpValueName); });
}
LONG KillingRegistry::BeginTransaction() {
  return Write([&] { return inner_.BeginTransaction(); });
}
LONG KillingRegistry::CommitTransaction() {
  return Write([&] { return inner_.CommitTransaction(); });
}
void KillingRegistry::RollbackTransaction() {
  Write([&] {
    inner_.RollbackTransaction();
    return 0;
  });
}

HeadlessManager::HeadlessManager(IRegistry& registry) {
  for (const std::string& name : ManagerPictureNames())
    dir.WriteFile("Pic/" + name.substr(1), TinyPng(99, 33));
  platform.SetExecutableFolder(dir.Path());
  form = std::make_unique<manager::frmZandrel>(platform, registry, nullptr, nullptr);
  form->Show();
}

HeadlessManager::~HeadlessManager() = default;

void HeadlessManager::Add(const std::string& ext, const std::string& title, const std::string& program,
                          bool updateList) {
  form->cmdAdd_Click();
  form->txtFileExt.UserEdited(ext);
  form->txtTitleRef.UserEdited(title);
  form->txtExecutableFileSpec.UserEdited(program);
  form->cbxUpdateList.SetValue(updateList ? 1 : 0);
  form->cmdProceed_Click();
}

void HeadlessManager::Remove(const std::string& ext, const std::string& title, bool updateList) {
  form->cmdDelete_Click();
  form->txtFileExt.UserEdited(ext);
  form->txtTitleRef.UserEdited(title);
  form->cbxUpdateList.SetValue(updateList ? 1 : 0);
  platform.AnswerNext(ui::IDYES);
  form->cmdProceed_Click();
}

void HeadlessManager::ProceedAgain() {
  platform.AnswerNext(ui::IDYES);
  form->cmdProceed_Click();
}

std::vector<std::string> HeadlessManager::Texts() const {
  std::vector<std::string> texts;
  for (const auto& m : platform.messages) texts.push_back(m.text);
  return texts;
}

std::string RemoveQuestion(const std::string& ext, bool withTitle) {
  return "Удаляется расширенние " + ext + "\r\n" +
         (withTitle ? "Хотите удалить расширенние и описание?" : "Хотите удалить расширенние, а описание оставить?");
}
std::string RemoveDone(const std::string& ext) { return "Ассоциация удаленна из реестра " + ext; }
std::string RemoveFailed(const std::string& ext) { return "Не удалось удалить ассоциацию из реестра " + ext; }

}  // namespace zandrel::testing
