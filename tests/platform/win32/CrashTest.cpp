// A copy of the program killed at any write of an add or a removal over the
// real registry leaves, once a copy starts again, the classes store exactly as
// it was. Each kill point runs in a child (this program, --crash-child) that
// kills itself before its Nth write: a registry change, or an append to or the
// removal of the undo record. The parent then opens the registry as the
// program does at start and compares the whole classes store.
#include <process.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/win32/UndoJournal.h"
#include "platform/win32/Win32Registry.h"
#include "store/AssociationChanges.h"
#include "support/Support.h"
#include "support/Win32Support.h"

namespace zandrel::testing {
namespace {

constexpr int kCountBase = 100;  // a finished child exits with kCountBase + its writes

win32::UndoPlace PlaceIn(const std::string& folder) { return {folder + "\\undo-record", "Local\\ZandrelCrashTest"}; }

// Counts writes; kills the process before the one numbered `kill_at`.
struct WriteCounter {
  int kill_at = 0;
  int count = 0;
  void Next() {
    if (++count == kill_at) KillThisProcess();
  }
};

class KillingRegistry : public IRegistry {
 public:
  KillingRegistry(std::unique_ptr<IRegistry> inner, WriteCounter& counter) : inner_(std::move(inner)), counter_(counter) {}
  LONG RegOpenKeyExA(HKEY k, const char* s, DWORD o, REGSAM m, HKEY* r) override {
    return inner_->RegOpenKeyExA(k, s, o, m, r);
  }
  LONG RegEnumKeyExA(HKEY k, DWORD i, char* n, DWORD* l, DWORD* r, char* c, DWORD* cl, FILETIME* t) override {
    return inner_->RegEnumKeyExA(k, i, n, l, r, c, cl, t);
  }
  LONG RegEnumValueA(HKEY k, DWORD i, char* n, DWORD* l, DWORD* r, DWORD* t, BYTE* d, DWORD* s) override {
    return inner_->RegEnumValueA(k, i, n, l, r, t, d, s);
  }
  LONG RegCreateKeyExA(HKEY k, const char* s, DWORD r, const char* c, DWORD o, REGSAM m, const void* a, HKEY* h,
                       DWORD* d) override {
    counter_.Next();
    return inner_->RegCreateKeyExA(k, s, r, c, o, m, a, h, d);
  }
  LONG RegSetValueExA(HKEY k, const char* n, DWORD r, DWORD t, const BYTE* d, DWORD s) override {
    counter_.Next();
    return inner_->RegSetValueExA(k, n, r, t, d, s);
  }
  LONG RegDeleteKeyA(HKEY k, const char* s) override {
    counter_.Next();
    return inner_->RegDeleteKeyA(k, s);
  }
  LONG RegCloseKey(HKEY k) override { return inner_->RegCloseKey(k); }
  LONG RegDeleteValueA(HKEY k, const char* n) override {
    counter_.Next();
    return inner_->RegDeleteValueA(k, n);
  }
  LONG BeginTransaction() override { return inner_->BeginTransaction(); }
  LONG CommitTransaction() override { return inner_->CommitTransaction(); }
  void RollbackTransaction() override { inner_->RollbackTransaction(); }

 private:
  std::unique_ptr<IRegistry> inner_;
  WriteCounter& counter_;
};

class KillingStore : public win32::UndoStore {
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

int CrashChild(const std::string& sandbox, const std::string& folder, const std::string& op, int kill_at) {
  JoinRegistrySandbox(sandbox);
  std::string error;
  std::unique_ptr<win32::UndoStore> store = win32::OpenUndoStore(PlaceIn(folder), &error);
  if (!store) return 1;
  WriteCounter counter{kill_at};
  win32::JournalledRegistry registry(std::make_unique<KillingRegistry>(std::make_unique<win32::Win32Registry>(), counter),
                                     std::make_unique<KillingStore>(std::move(store), counter));
  if (registry.Recover() != ERROR_SUCCESS) return 2;
  RecordingPrompter prompter;
  prompter.AnswerNext(IDYES);
  if (op == "add")
    store::CreateAssociation(registry, prompter, {".new", "Новый файл", folder + "\\zq viewer.exe", 0});
  else
    store::RemoveAssociation(registry, prompter, {".zq", "Zq.Document", 0});
  return kCountBase + counter.count;
}

class WindowsCrash : public ::testing::TestWithParam<const char*> {
 protected:
  // A fresh sandbox holding two associations; returns its classes store.
  std::string Seed() {
    EnterRegistrySandbox(sandbox_);
    auto registry = Open();
    const std::string program = dir_.File("zq viewer.exe");
    SeedAssociation(*registry, ".txt", "txtfile", "notepad.exe %1");
    SeedAssociation(*registry, ".zq", "Zq.Document", "\"" + program + "\" \"%1\"");
    SeedValue(*registry, "Zq.Document\\DefaultIcon", "", REG_SZ, program + ",1");
    return DumpClasses(*registry);
  }
  // Starts as the program starts: a record left behind is rolled back.
  std::unique_ptr<IRegistry> Open() {
    std::string error;
    auto registry = win32::OpenWindowsRegistry(PlaceIn(dir_.Path()), &error);
    if (!registry) ADD_FAILURE() << error;
    return registry;
  }
  int RunChild(int kill_at) {
    const std::string program = ThisProgram(), kill = std::to_string(kill_at);
    const std::string quoted_program = "\"" + program + "\"", quoted_folder = "\"" + dir_.Path() + "\"";
    const char* argv[] = {quoted_program.c_str(), "--crash-child", sandbox_.c_str(), quoted_folder.c_str(),
                          GetParam(), kill.c_str(), nullptr};
    return static_cast<int>(_spawnv(_P_WAIT, program.c_str(), argv));
  }

  TempDir dir_;
  const std::string sandbox_ = "crash-" + dir_.Path().substr(dir_.Path().rfind('-') + 1);
};

TEST_P(WindowsCrash, KilledAtAnyWriteStartsAgainWithTheOldState) {
  dir_.Write("zq viewer.exe", "MZ");
  const std::string before = Seed();
  const int writes = RunChild(0) - kCountBase;
  ASSERT_GT(writes, 2);
  ASSERT_NE(DumpClasses(*Open()), before) << "the change did nothing";
  for (int n = 1; n <= writes; ++n) {
    SCOPED_TRACE("killed before write " + std::to_string(n) + " of " + std::to_string(writes));
    ASSERT_EQ(Seed(), before);
    ASSERT_EQ(RunChild(n), 99);
    EXPECT_EQ(DumpClasses(*Open()), before);
  }
  std::printf("%s: %d writes, each a kill point, each rolled back at the next start\n", GetParam(), writes);
}

INSTANTIATE_TEST_SUITE_P(Changes, WindowsCrash, ::testing::Values("add", "remove"));

}  // namespace
}  // namespace zandrel::testing

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--crash-child")
    return zandrel::testing::CrashChild(argv[2], argv[3], argv[4], std::atoi(argv[5]));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
