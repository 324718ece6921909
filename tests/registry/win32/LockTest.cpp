// Where copies keep their undo record, machine-wide, who may change it, and
// the lock that keeps their changes apart. The lock is taken only around a
// change: a copy starts and lists while another copy holds it, and leaves a
// crashed copy's record for the change that gets the lock; only
// administrators may open it. And the start makes the key the history lives
// in the administrators' and SYSTEM's alone.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "capture/HistoryRegistry.h"
#include "capture/UndoRecord.h"
#include "regfile/RegFile.h"
#include "registry/RegistryScript.h"
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
  const win32::UndoPlace place_{dir_.File("undo-record"), dir_.File("undo-lock")};
};

TEST_F(WindowsLock, StartAndListingNeverNeedTheLock) {
  {
    auto registry = Open();
    SeedAssociation(*registry, ".zq", "Zq.Document", "zq.exe %1");
    ASSERT_EQ(store::AssociationListing(*registry).List().rows.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(place_.lock_path)) << "a copy that lists made the lock";
  }
  // A copy killed inside a change left its record: ".left" is to go. While
  // another copy holds the lock, the record is its own.
  ASSERT_EQ(SeedKey(*Open(), ".left"), ERROR_SUCCESS);
  dir_.Write("undo-record", "zandrel-undo 1\ncreated 80000000 2e6c656674\n");
  {
    std::unique_ptr<capture::UndoStore> other;
    ASSERT_TRUE(IsOk(win32::OpenUndoStore(place_, &other)));
    ASSERT_EQ(other->Lock(false), ERROR_SUCCESS);
    std::unique_ptr<capture::UndoStore> store;
    ASSERT_TRUE(IsOk(win32::OpenUndoStore(place_, &store)));
    EXPECT_EQ(store->Lock(false), ERROR_BUSY);
    auto registry = Open();
    ASSERT_TRUE(registry);
    EXPECT_EQ(store::AssociationListing(*registry).List().rows.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(place_.record_path)) << "replayed without the lock";
  }
  auto registry = Open();
  EXPECT_FALSE(std::filesystem::exists(place_.record_path));
  RunScript(*registry, "open HKCR .left read -> 2");
}

// The lock is a file no one but SYSTEM and the administrators may open at
// all, so that no other user can hold it (Wine answers a DACL made from the
// file's mode: its user's and SYSTEM's).
TEST_F(WindowsLock, OnlyAdministratorsMayTakeIt) {
  auto registry = Open();
  RecordingPrompter prompter;
  ASSERT_TRUE(store::CreateAssociation(*registry, prompter, Add()).committed);
  EXPECT_EQ(FileDescriptor(place_.lock_path), RunningUnderWine() ? "D:(A;;FA;;;SY)(A;;FA;;;" + ThisUserSid() + ")"
                                                                 : std::string("D:P(A;;FA;;;SY)(A;;FA;;;BA)"));
}

// Copies that only look (start, list, read the history) run while a change
// runs, and neither stands in the other's way: the record is shared both
// ways, and a record whose writer holds the lock is never called unfinished.
TEST_F(WindowsLock, ReadersNeverDisturbAChange) {
  std::string file = "Windows Registry Editor Version 5.00\r\n";
  for (int i = 0; i < 500; ++i)
    file += "\r\n[HKEY_CLASSES_ROOT\\.zbig" + std::to_string(i) + "]\r\n@=\"ZBig.Тип" + std::to_string(i) +
            "\"\r\n\r\n[HKEY_CLASSES_ROOT\\ZBig.Тип" + std::to_string(i) +
            "\\shell\\open\\command]\r\n@=\"zbig.exe %1\"\r\n";
  dir_.Write("big.reg", file);
  status::Status imported;
  std::atomic<bool> done = false;
  std::thread change([&] {
    auto registry = Open();
    capture::HistoryRegistry history(*registry);
    imported = regfile::ImportRegFile(history, dir_.File("big.reg"));
    done = true;
  });
  int reads = 0, during = 0;
  while (!done) {
    const bool recording = std::filesystem::exists(place_.record_path);
    std::unique_ptr<IRegistry> registry;
    const status::Status opened = win32::OpenWindowsRegistry(place_, &registry);
    ASSERT_TRUE(IsOk(opened)) << "read " << reads;
    store::AssociationListing(*registry).List();
    std::vector<capture::HistoryEntry> kept;
    ASSERT_EQ(capture::ReadHistory(*registry, &kept), ERROR_SUCCESS) << "read " << reads;
    ++reads;
    if (recording) ++during;
  }
  change.join();
  EXPECT_TRUE(IsOk(imported));
  EXPECT_GT(during, 2) << "no reader met the change";
  std::printf("%d starts and listings, %d of them while the change was being recorded\n", reads, during);
  EXPECT_EQ(store::AssociationListing(*Open()).List().rows.size(), 500u);
}

// A record tells the next administrator's copy what to write into the
// machine's registry: one that others could have written is never replayed,
// and nothing is recorded where others could write.
TEST_F(WindowsLock, ARecordOthersMayChangeIsNotReplayed) {
  // Everyone may write: Wine keeps no DACL of its own, but keeps this one as
  // the file's mode. An owner other than the administrators, SYSTEM or the
  // elevated copy's user is refused alike; Wine makes every file this user's.
  const std::string everyone = "D:(A;OICI;FA;;;WD)";
  const std::string folder = dir_.File("open");
  std::filesystem::create_directories(folder);
  const win32::UndoPlace place{folder + "\\undo-record", folder + "\\undo-lock"};
  ASSERT_TRUE(SetFileDescriptor(folder, everyone));
  std::unique_ptr<IRegistry> registry;
  EXPECT_EQ(win32::OpenWindowsRegistry(place, &registry).message,
            "the folder " + folder +
                " of the undo record may be changed by others than the administrators "
                "and SYSTEM: it is not used. Delete it");
  EXPECT_EQ(registry, nullptr);
  // The record itself, in a folder of the administrators'.
  ASSERT_TRUE(SetFileDescriptor(folder, "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + ThisUserSid() + ")"));
  ASSERT_EQ(SeedKey(*Open(), ".left"), ERROR_SUCCESS);
  WriteFile(place.record_path, std::string(capture::kUndoRecordHeader) +
                                   capture::EncodeUndoEntry(
                                       {capture::RecordEntry::Kind::kCreated, HKEY_CLASSES_ROOT, ".left", {}, {}, {}}));
  ASSERT_TRUE(SetFileDescriptor(place.record_path, everyone));
  EXPECT_EQ(win32::OpenWindowsRegistry(place, &registry).message,
            "the undo record " + place.record_path +
                " may be changed by others than the administrators and "
                "SYSTEM: it is not replayed. Delete it");
  RunScript(*Open(), "open HKCR .left read -> 0");
}

// The place's scope is the program's keys (the journal's scope itself is
// JournalScopeTest's): the machine's classes, in any case, and its own key
// are written; elsewhere is refused before it writes.
TEST_F(WindowsLock, ChangesWriteOnlyTheProgramsKeys) {
  RunScript(*Open(), R"(begin -> 0; create HKCU "Software\\Zq" write -> )" +
                         std::to_string(capture::kOutsideJournalScope) +
                         R"(; create HKLM "software\\classes\\.zq" write -> 0 as h1; close h1 -> 0;
                            create HKLM "SOFTWARE\\Zandrel\\Zq" write -> 0 as h2; close h2 -> 0; rollback;
                            open HKCR .zq read -> 2)");
}

// The record guards the machine's classes, so it is the machine's: any
// administrator's copy finds what another's left, and only administrators
// and SYSTEM may write where it lies. The lock lives in the namespace only
// administrators may create (Wine has none: there the name is global).
TEST(WindowsUndoPlace, TheRecordIsTheMachines) {
  const win32::UndoPlace place = win32::DefaultUndoPlace();
  const std::string folder = win32::api::CommonAppDataFolder() + "\\Zandrel";
  EXPECT_EQ(place.record_path, folder + "\\undo-record");
  EXPECT_EQ(place.lock_path, folder + "\\undo-lock");
  std::unique_ptr<capture::UndoStore> store, other;
  ASSERT_TRUE(IsOk(win32::OpenUndoStore(place, &store)));  // an elevated copy makes the folder
  ASSERT_TRUE(IsOk(win32::OpenUndoStore(place, &other)));
  ASSERT_EQ(store->Lock(false), ERROR_SUCCESS);
  EXPECT_EQ(other->Lock(false), ERROR_BUSY);
  store->Unlock();
  EXPECT_EQ(other->Lock(false), ERROR_SUCCESS);
  other->Unlock();
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
  const auto dacl = [](const std::string& path) {
    std::string sddl;
    EXPECT_EQ(win32::api::MachineKeyDacl(path, &sddl), 0) << path;
    return sddl;
  };
  win32::UndoPlace place = place_;
  place.private_key = key;
  for (bool existed : {false, true}) {
    SCOPED_TRACE(existed ? "made before" : "new");
    EnterRegistrySandbox(name_);
    if (existed) {
      ASSERT_EQ(SeedKey(*Open(), key + "\\History\\0000000001", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
      EXPECT_NE(dacl(key), own);
    }
    std::unique_ptr<IRegistry> registry;
    ASSERT_TRUE(IsOk(win32::OpenWindowsRegistry(place, &registry)));
    EXPECT_EQ(dacl(key), own);
    ASSERT_EQ(SeedKey(*registry, key + "\\History\\0000000002", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    if (wine) continue;
    for (const char* sub : {"\\History", "\\History\\0000000002", existed ? "\\History\\0000000001" : "\\History"})
      EXPECT_EQ(dacl(key + sub), "D:AI(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)") << sub;
  }
  // Set once: a second start finds it so and leaves it.
  std::unique_ptr<IRegistry> again;
  ASSERT_TRUE(IsOk(win32::OpenWindowsRegistry(place, &again)));
  EXPECT_EQ(dacl(key), own);
}

}  // namespace
}  // namespace zandrel::testing
