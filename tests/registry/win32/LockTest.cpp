// Where copies keep their undo record, machine-wide, and the lock that keeps
// their changes apart. The lock is taken only around a change: a
// copy starts and lists while another copy holds it, or while its name is
// taken by something that is no mutex, and leaves a crashed copy's record for
// the change that gets the lock. Once made, every interactive user may wait
// on it. And the start makes the key the history lives in the
// administrators' and SYSTEM's alone.
#include <gtest/gtest.h>

#include <filesystem>

#include "registry/win32/Win32Api.h"
#include "registry/win32/Win32Registry.h"
#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"
#include "support/StatusCheck.h"
#include "support/Support.h"
#include "support/Win32Support.h"

namespace zandrel::testing {
namespace {

class WindowsLock : public ::testing::Test {
 protected:
  WindowsLock() {
    EnterRegistrySandbox(name_);
    dir_.Write("viewer.exe", "MZ");
  }
  std::unique_ptr<IRegistry> Open() {
    std::unique_ptr<IRegistry> registry;
    EXPECT_TRUE(IsOk(win32::OpenWindowsRegistry(place_, &registry)));
    return registry;
  }
  store::AssociationFields Add() const { return {".new", "Новый файл", dir_.File("viewer.exe"), 0}; }

  TempDir dir_;
  const std::string name_ = "lock-" + dir_.Path().substr(dir_.Path().rfind('-') + 1);
  const win32::UndoPlace place_{dir_.File("undo-record"), "Local\\ZandrelLockTest." + name_};
};

TEST_F(WindowsLock, StartAndListingNeverNeedTheLock) {
  for (const auto kind : {NameHolder::Kind::kHeldMutex, NameHolder::Kind::kEvent}) {
    const bool held = kind == NameHolder::Kind::kHeldMutex;
    SCOPED_TRACE(held ? "another copy holds the lock" : "an event holds its name");
    EnterRegistrySandbox(name_);
    {
      auto registry = Open();
      SeedAssociation(*registry, ".zq", "Zq.Document", "zq.exe %1");
      ASSERT_EQ(store::AssociationListing(*registry).List().rows.size(), 1u);
      EXPECT_FALSE(MutexExists(place_.mutex_name)) << "a copy that lists made the lock";
    }
    // A copy killed inside a change left its record: ".left" is to go.
    ASSERT_EQ(SeedKey(*Open(), ".left"), ERROR_SUCCESS);
    dir_.Write("undo-record", "zandrel-undo 1\ncreated 80000000 2e6c656674\n");
    {
      NameHolder holder(place_.mutex_name, kind);
      auto registry = Open();
      ASSERT_TRUE(registry);
      EXPECT_EQ(store::AssociationListing(*registry).List().rows.size(), 1u);
      EXPECT_TRUE(std::filesystem::exists(place_.record_path)) << "replayed without the lock";
      if (!held) {  // a held lock is waited for, boundedly: see the crash test
        RecordingPrompter prompter;
        EXPECT_FALSE(store::CreateAssociation(*registry, prompter, Add()).committed);
        EXPECT_EQ(prompter.boxes, (std::vector<RecordingPrompter::Box>{{"Unable to create .new", MB_OK}}));
      }
    }
    auto registry = Open();
    EXPECT_FALSE(std::filesystem::exists(place_.record_path));
    HKEY left = 0;
    EXPECT_EQ(registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".left", 0, KEY_READ, &left), ERROR_FILE_NOT_FOUND);
  }
}

TEST_F(WindowsLock, EveryInteractiveUserMayWaitOnIt) {
  auto registry = Open();
  RecordingPrompter prompter;
  ASSERT_TRUE(store::CreateAssociation(*registry, prompter, Add()).committed);
  // SYSTEM and administrators: all; interactive users: wait and release; a
  // low label (Wine keeps no labels).
  const std::string dacl = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100001;;;IU)";
  EXPECT_EQ(MutexDescriptor(place_.mutex_name), RunningUnderWine() ? dacl : dacl + "S:(ML;;NW;;;LW)");
}

// The record guards the machine's classes, so it is the machine's: any
// administrator's copy finds what another's left, and only administrators
// and SYSTEM may write where it lies.
TEST(WindowsUndoPlace, TheRecordIsTheMachines) {
  const win32::UndoPlace place = win32::DefaultUndoPlace();
  const std::string folder = win32::api::CommonAppDataFolder() + "\\Zandrel";
  EXPECT_EQ(place.record_path, folder + "\\undo-record");
  EXPECT_EQ(place.mutex_name, "Global\\Zandrel.RegistryChanges");
  // Wine keeps no DACL on files: it answers one made from the Unix mode.
  if (!RunningUnderWine()) {
    EXPECT_EQ(FileDescriptor(folder), "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)");
  }
}

// A protected DACL of SYSTEM and the administrators, inherited by every
// subkey: on a key the start makes, and on one found made before (its
// subkeys too), as HKEY_LOCAL_MACHINE\SOFTWARE\Zandrel after an older version.
// Wine 8 keeps a key's DACL as set, but not its protected flag, takes no
// descriptor at creation and makes no entry inherited: under Wine the key's
// own entries are checked, its subkeys' only on Windows.
TEST_F(WindowsLock, TheHistorysKeyIsTheAdministratorsAlone) {
  const std::string key = "SOFTWARE\\Zandrel";
  const bool wine = RunningUnderWine();
  const std::string own = wine ? "D:(A;CI;KA;;;SY)(A;CI;KA;;;BA)" : "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)";
  const std::string inherited = "D:AI(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)";
  win32::UndoPlace place = place_;
  place.private_key = key;
  for (bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "made before" : "new");
    EnterRegistrySandbox(name_);
    if (existed) {
      auto plain = Open();
      ASSERT_EQ(SeedKey(*plain, key + "\\History\\0000000001", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
      std::string before;
      ASSERT_EQ(win32::api::MachineKeyDacl(key, &before), 0);
      EXPECT_NE(before, own);
    }
    std::unique_ptr<IRegistry> registry;
    ASSERT_TRUE(IsOk(win32::OpenWindowsRegistry(place, &registry)));
    std::string dacl;
    ASSERT_EQ(win32::api::MachineKeyDacl(key, &dacl), 0);
    EXPECT_EQ(dacl, own);
    ASSERT_EQ(SeedKey(*registry, key + "\\History\\0000000002", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    if (wine) continue;
    for (const char* sub : {"\\History", "\\History\\0000000002", existed ? "\\History\\0000000001" : ""}) {
      if (*sub == '\0') continue;
      ASSERT_EQ(win32::api::MachineKeyDacl(key + sub, &dacl), 0);
      EXPECT_EQ(dacl, inherited) << sub;
    }
  }
  // Set once: a second start finds it so and leaves it.
  std::unique_ptr<IRegistry> again;
  ASSERT_TRUE(IsOk(win32::OpenWindowsRegistry(place, &again)));
  std::string dacl;
  ASSERT_EQ(win32::api::MachineKeyDacl(key, &dacl), 0);
  EXPECT_EQ(dacl, own);
}

}  // namespace
}  // namespace zandrel::testing
