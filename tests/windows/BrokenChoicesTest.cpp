// What Windows keeps beside the classes store naming a ProgID that is not
// there: OpenWithProgids values (the machine's removable, the user's not) and
// the user's choice; healthy ones never reported. Over the hive, and under
// Wine over the registry.
#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace zandrel::testing
