// A handle to a key that a rolled-back transaction created must not come to
// life again when a later key is created (the hive hands out key ids from a
// counter that rolls back with the transaction): it answers 1018, as a handle
// to any deleted key does, and writes through it reach nothing.
#include <gtest/gtest.h>

#include "reliability/FaultVfs.h"
#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/MemoryRegistry.h"

namespace zandrel::testing {
namespace {

HKEY Create(IRegistry& r, const char* path) {
  HKEY key = 0;
  EXPECT_EQ(r.RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  return key;
}

void ExpectCutOff(IRegistry& r, HKEY stale) {
  const std::string before_stranger = DumpClasses(r);
  const HKEY stranger = Create(r, ".stranger");
  const char data[] = "through a stale handle";
  EXPECT_EQ(r.RegSetValueExA(stale, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data - 1),
            ERROR_KEY_DELETED);
  HKEY child = 0;
  EXPECT_EQ(r.RegCreateKeyExA(stale, "child", 0, "", 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_KEY_DELETED);
  char name[64];
  DWORD length = sizeof name;
  EXPECT_EQ(r.RegEnumKeyExA(stale, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(DumpTree(r, HKEY_CLASSES_ROOT, ".stranger"), "[.stranger]\n");
  EXPECT_EQ(r.RegCloseKey(stale), ERROR_SUCCESS);
  r.RegCloseKey(stranger);
  EXPECT_NE(DumpClasses(r), before_stranger);
}

TEST(HiveTransactions, HandleToARolledBackKeyStaysDeleted) {
  ScratchDir dir;
  auto hive = MustOpenHive(dir.File("t.hive"));
  ASSERT_NE(hive, nullptr);
  MemoryRegistry model;
  for (IRegistry* r : {static_cast<IRegistry*>(hive.get()), static_cast<IRegistry*>(&model)}) {
    SCOPED_TRACE(r == &model ? "model" : "hive");
    ASSERT_EQ(r->BeginTransaction(), ERROR_SUCCESS);
    const HKEY stale = Create(*r, "RolledBack");
    r->RollbackTransaction();
    ExpectCutOff(*r, stale);
  }
}

TEST(HiveTransactions, HandleToAKeyOfAFailedCommitStaysDeleted) {
  FaultVfs::Install();
  ScratchDir dir;
  auto hive = MustOpenHive(dir.File("t.hive"));
  ASSERT_NE(hive, nullptr);
  {
    RegistryTransaction transaction(*hive);
    ASSERT_EQ(transaction.BeginCode(), ERROR_SUCCESS);
    const HKEY stale = Create(*hive, "NeverCommitted");
    FaultVfs::FullAfterBytes(0);
    EXPECT_EQ(transaction.Commit(), ERROR_DISK_FULL);
    FaultVfs::Disarm();
    hive->RegCloseKey(stale);
  }
  ASSERT_EQ(hive->BeginTransaction(), ERROR_SUCCESS);
  const HKEY stale = Create(*hive, "NeverCommitted");
  FaultVfs::FullAfterBytes(0);
  EXPECT_EQ(hive->CommitTransaction(), ERROR_DISK_FULL);
  FaultVfs::Disarm();
  hive->RollbackTransaction();
  ExpectCutOff(*hive, stale);
}

}  // namespace
}  // namespace zandrel::testing
