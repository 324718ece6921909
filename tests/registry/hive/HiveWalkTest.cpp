// The hive's own walk of a subtree against the walk through the calls.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "regfile/RegFile.h"
#include "registry/Defaults.h"
#include "registry/ForwardingRegistry.h"
#include "registry/RegistryScript.h"
#include "registry/hive/Hive.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

// The hive's own walk, which skips the calls, hands over byte for byte what
// the walk through the calls does: from every kind of start, over the
// default store with hard cases added, and over a hive whose key ids are
// sparse; so export and query, which format what is handed over, are the
// same both ways.
TEST(SubtreeWalks, TheHivesWalkHandsOverWhatTheCallsHandOver) {
  TempDir dir;
  std::unique_ptr<hive::HiveRegistry> dense, sparse;
  ASSERT_TRUE(IsOk(hive::OpenHiveSeeded(dir.File("dense.db"), SeedOf(WindowsClassesReg()), &dense)));
  ASSERT_TRUE(IsOk(hive::OpenHive(dir.File("sparse.db"), &sparse)));
  for (IRegistry* reg : {static_cast<IRegistry*>(dense.get()), static_cast<IRegistry*>(sparse.get())}) {
    // BIG rewrites Big in its place.
    RunScript(*reg, R"(create HKCR .zzq -> 0 as h1; set h1 "" sz "Документ\0" -> 0; set h1 Big binary "Z"*70000 -> 0;
                       set h1 nul sz "a\0b\0" -> 0; set h1 BIG dword "\x01\0\0\0" -> 0; close h1 -> 0;
                       create HKCR ".zzq\\ShellNew" -> 0 as h2; set h2 "" sz "" -> 0; close h2 -> 0;
                       create HKCR ".zzq\\Ёлка\\b\\c" -> 0 as h3; close h3 -> 0; create HKCR ".zzq\\ёЛКА\\A" -> 0 as h4;
                       close h4 -> 0; create HKCR ._sln -> 0 as h5; close h5 -> 0; create HKCR "Software\\x" -> 0 as h6;
                       set h6 v sz "x\0" -> 0; close h6 -> 0)");
  }
  for (int i = 0; i < 1200; ++i) SeedKey(*sparse, "gone" + std::to_string(i));
  for (int i = 0; i < 1200; ++i)
    if (i % 97 != 0) sparse->RegDeleteKeyA(HKEY_CLASSES_ROOT, ("gone" + std::to_string(i)).c_str());
  SeedKey(*sparse, "after\\deleted");
  for (hive::HiveRegistry* hive : {dense.get(), sparse.get()}) {
    HKEY zzq = 0, write_only = 0, gone = 0;
    ASSERT_EQ(hive->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".zzq", 0, KEY_READ, &zzq), 0);
    ASSERT_EQ(hive->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".zzq", 0, KEY_WRITE, &write_only), 0);
    ASSERT_EQ(hive->RegCreateKeyExA(HKEY_CLASSES_ROOT, "brief", 0, nullptr, 0, KEY_READ, nullptr, &gone, nullptr), 0);
    ASSERT_EQ(hive->RegDeleteKeyA(HKEY_CLASSES_ROOT, "brief"), 0);
    for (HKEY start : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS, zzq, write_only, gone}) {
      SCOPED_TRACE(start);
      Transcript calls, own, prepared;
      const LONG code = registry::WalkThroughCalls(*hive, start, calls);
      EXPECT_EQ(hive->WalkSubtree(start, own), code);
      ASSERT_EQ(hive->PrepareWalk(), 0);
      EXPECT_EQ(hive->WalkSubtree(start, prepared), code);
      if (code == ERROR_SUCCESS) {
        EXPECT_EQ(own.text, calls.text);
        EXPECT_EQ(prepared.text, calls.text);
      }
    }
    for (HKEY h : {zzq, write_only, gone}) hive->RegCloseKey(h);
    std::string through_calls, own;
    CallsOnly calls(*hive);
    ASSERT_TRUE(IsOk(regfile::ExportRegText(calls, "HKCR", &through_calls)));
    ASSERT_TRUE(IsOk(regfile::ExportRegText(*hive, "HKCR", &own)));
    EXPECT_EQ(own, through_calls);
  }
}

// What PrepareWalk read serves the next walk only while nothing changed: a
// change made since, by this connection or another, shows in that walk.
TEST(SubtreeWalks, APreparedWalkShowsWhatChangedSinceItWasRead) {
  TempDir dir;
  std::unique_ptr<hive::HiveRegistry> hive, other;
  ASSERT_TRUE(IsOk(hive::OpenHive(dir.File("h.db"), &hive)));
  ASSERT_TRUE(IsOk(hive::OpenHive(dir.File("h.db"), &other)));
  const std::function<void()> changes[] = {
      [&] { SeedValue(*hive, ".own", "", REG_SZ, std::string("a\0", 2)); },
      [&] { SeedValue(*other, ".other", "", REG_SZ, std::string("b\0", 2)); },
      [&] { hive->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".own"); },
      [&] { other->RegDeleteValueA(HKEY_CLASSES_ROOT, "x"); },
  };
  SeedValue(*hive, "", "x", REG_SZ, std::string("x\0", 2));
  for (const auto& change : changes) {
    ASSERT_EQ(hive->PrepareWalk(), 0);
    change();
    Transcript prepared, calls;
    ASSERT_EQ(hive->WalkSubtree(HKEY_CLASSES_ROOT, prepared), 0);
    ASSERT_EQ(registry::WalkThroughCalls(*hive, HKEY_CLASSES_ROOT, calls), 0);
    EXPECT_EQ(prepared.text, calls.text);
  }
}

}  // namespace
}  // namespace zandrel::testing
