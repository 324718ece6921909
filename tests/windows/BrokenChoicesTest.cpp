// What Windows keeps beside the classes store naming a ProgID that is not
// there: OpenWithProgids values (the machine's removable, the user's not) and
// the user's choice; healthy ones never reported; the clean-up removes the
// machine's alone, as one change that undoes. Over the hive, and under Wine
// over the registry.
#include <gtest/gtest.h>

#include "capture/HistoryRegistry.h"
#include "store/BrokenCleanUp.h"
#include "store/ChangeUndo.h"
#include "support/Backends.h"
#include "support/BrokenPrint.h"
#include "support/MergedClasses.h"
#include "support/Support.h"
#include "windows/WindowsDesktop.h"

namespace zandrel::testing {
namespace {

using integration::BrokenAssociation;

TEST(BrokenChoices, ProgIdsThatAreNotThere) {
  TempDir dir;
  auto registry = MakeRegistry(dir.Path());
  const std::string choices = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
  SeedAssociation(*registry, ".zq", "Zq.File", "zq.exe %1");
  SeedAssociation(*registry, ".zu", "Zu.File", "zu.exe %1");
  for (const char* progId : {"Zq.File", "Zq.Gone", "Zu.File"})
    ASSERT_EQ(SeedValue(*registry, ".zq\\OpenWithProgids", progId, REG_NONE, ""), ERROR_SUCCESS);
  for (const char* progId : {"Zq.Mine", "Zq.Gone.Mine"})
    ASSERT_EQ(SeedValue(*registry, UsersClasses(".zq\\OpenWithProgids"), progId, REG_NONE, "", HKEY_CURRENT_USER), 0);
  ASSERT_EQ(SeedValue(*registry, UsersClasses("Zq.Mine"), "", REG_SZ, "mine", HKEY_CURRENT_USER), ERROR_SUCCESS);
  for (const auto& [e, progId] : {std::pair{".zq", "Zq.Chosen.Gone"}, std::pair{".zu", "Zu.File"}}) {
    ASSERT_EQ(SeedValue(*registry, choices + e + "\\UserChoice", "ProgId", REG_SZ, progId, HKEY_CURRENT_USER), 0);
    ASSERT_EQ(SeedValue(*registry, choices + e + "\\UserChoice", "Hash", REG_SZ, "h=", HKEY_CURRENT_USER), 0);
  }
  windows::WindowsDesktop desktop(*registry, {});
  const std::vector<BrokenAssociation> expected = {
      {".zq", integration::kProgIdMissing, "Zq.Gone", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.zq\\OpenWithProgids",
       true},
      {".zq", integration::kProgIdMissing, "Zq.Gone.Mine", "HKEY_CURRENT_USER\\Software\\Classes\\.zq\\OpenWithProgids",
       false},
      {".zq", integration::kProgIdMissing, "Zq.Chosen.Gone", "HKEY_CURRENT_USER\\" + choices + ".zq\\UserChoice",
       false},
  };
  EXPECT_EQ(desktop.FindBroken({".zq", ".zu"}), expected);
  EXPECT_EQ(desktop.FindBroken({".zu"}), std::vector<BrokenAssociation>{});
  const std::vector<BrokenAssociation> all = desktop.FindBroken({});
  for (const BrokenAssociation& b : expected) EXPECT_EQ(std::count(all.begin(), all.end(), b), 1) << b.detail;

  // The clean-up, through the history: the machine's value goes, the user's stay.
  capture::HistoryRegistry history(*registry);
  windows::WindowsDesktop kept(history, {});
  const auto dump = [&] {
    return DumpTree(*registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zq") +
           DumpTree(*registry, HKEY_CURRENT_USER, "Software\\Classes\\.zq") +
           DumpTree(*registry, HKEY_CURRENT_USER, choices + ".zq");
  };
  const std::string before = dump();
  const store::CleanUp cleaned = store::RemoveBrokenAssociations(history, kept.FindBroken({".zq"}), &kept);
  EXPECT_EQ(cleaned.failure, "");
  EXPECT_EQ(cleaned.removed, std::vector<BrokenAssociation>{expected[0]});
  EXPECT_EQ(cleaned.kept, (std::vector<BrokenAssociation>{expected[1], expected[2]}));
  EXPECT_EQ(kept.FindBroken({".zq"}), (std::vector<BrokenAssociation>{expected[1], expected[2]}));
  EXPECT_EQ(dump(), Replace(before, "  \"Zq.Gone\" type 0: \n", "")) << "only the machine's value";
  EXPECT_EQ(store::UndoChange(history, 0).result, store::UndoOutcome::Result::kUndone);
  EXPECT_EQ(dump(), before);
}

}  // namespace
}  // namespace zandrel::testing
