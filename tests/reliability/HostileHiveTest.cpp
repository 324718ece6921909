// A hive holding hostile data: invalid UTF-8 in key names, value names and
// data, values of other types where REG_SZ is expected, 1 MB values, and key
// paths as deep as the registry allows. The listing shows every sound
// association around them, passes over what does not fit its buffers (234)
// and goes on, and nothing crashes.
#include <gtest/gtest.h>

#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

std::string DeepPath(const std::string& first, int levels) {
  std::string path = first;
  for (int i = 1; i < levels; ++i) path += "\\k";
  return path;
}

TEST(HostileHive, ListsEverySoundAssociationAroundHostileData) {
  ScratchDir dir;
  auto hive = MustOpenHive(dir.File("hostile.hive"));
  ASSERT_NE(hive, nullptr);
  IRegistry& r = *hive;
  const std::string megabyte(1 << 20, 'M');
  // Sound ones, first and last in enumeration order.
  SeedAssociation(r, ".a", "A.File", "/bin/a %1");
  SeedAssociation(r, ".zz", "Z.File", "/bin/z %1");
  // Invalid UTF-8 in the title (so in a key name and in a value) and in a command.
  SeedAssociation(r, ".b", "B\xff\xfe.File", "/bin/\xc3\x28 %1");
  // An extension key whose own name is not UTF-8.
  SeedAssociation(r, ".c\xe2\x82", "C.File", "/bin/c %1");
  // A value name that is not UTF-8 before the default value.
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, ".d", "\x80\x81", REG_SZ, "x"), ERROR_SUCCESS);
  SeedAssociation(r, ".d", "D.File", "/bin/d %1");
  // Other types where REG_SZ is expected: no row, no crash.
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, ".e", "", REG_DWORD, std::string("\x2a\0\0\0", 4)), ERROR_SUCCESS);
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, ".f", "", REG_BINARY, "F.File"), ERROR_SUCCESS);
  SeedAssociation(r, ".g", "G.File", "unused");
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, "G.File\\shell\\open\\command", "", REG_EXPAND_SZ, "/bin/g %1"),
            ERROR_SUCCESS);
  // 1 MB values: a default value too big for the listing's buffer, and a big
  // named value before a sound default value, which is still found.
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, ".h", "", REG_SZ, megabyte), ERROR_SUCCESS);
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, ".i", "Big", REG_SZ, megabyte), ERROR_SUCCESS);
  SeedAssociation(r, ".i", "I.File", "/bin/i %1");
  ASSERT_EQ(SeedValue(r, HKEY_CLASSES_ROOT, "I.File\\shell\\open\\command", "Big", REG_BINARY, megabyte),
            ERROR_SUCCESS);
  // A title whose command key has a subtree as deep as the registry allows:
  // 512 levels below the classes root, and not one more.
  SeedAssociation(r, ".j", "J.File", "/bin/j %1");
  const std::string deepest = DeepPath("J.File\\shell\\open\\command", 512 - 3);
  ASSERT_EQ(SeedKey(r, HKEY_CLASSES_ROOT, deepest), ERROR_SUCCESS);
  EXPECT_EQ(SeedKey(r, HKEY_CLASSES_ROOT, deepest + "\\one-more"), ERROR_INVALID_PARAMETER);
  // A key name of 255 characters, the longest there is.
  SeedAssociation(r, "." + std::string(254, 'n'), "N.File", "/bin/n %1");
  const std::string before = DumpClasses(r);

  HeadlessManager manager(r);
  manager.form->cmdList_Click();
  std::vector<std::string> rows;
  for (const auto& item : manager.form->lvwAsso.Items()) rows.push_back(item.text + " | " + item.sub1 + " | " + item.sub2);
  const std::vector<std::string> expected = {
      ".a | A.File | /bin/a %1",
      ".b | B\xff\xfe.File | /bin/\xc3\x28 %1",
      ".c\xe2\x82 | C.File | /bin/c %1",
      ".d | D.File | /bin/d %1",
      ".i | I.File | /bin/i %1",
      ".j | J.File | /bin/j %1",
      "." + std::string(254, 'n') + " | N.File | /bin/n %1",
      ".zz | Z.File | /bin/z %1",
  };
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(manager.Texts().back(), "Просмотр завершен.  Всего  " + std::to_string(expected.size()));
  // Reading changed nothing; a removal next to the hostile keys works.
  EXPECT_EQ(DumpClasses(r), before);
  manager.Remove(".b", "B\xff\xfe.File");
  EXPECT_EQ(manager.Texts().back(), RemoveDone(".b"));
  manager.Remove(".j", "J.File");  // deletes the 512-level subtree, deepest first
  EXPECT_EQ(manager.Texts().back(), RemoveDone(".j"));
  HKEY gone = 0;
  EXPECT_EQ(r.RegOpenKeyExA(HKEY_CLASSES_ROOT, "J.File", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

}  // namespace
}  // namespace zandrel::testing
