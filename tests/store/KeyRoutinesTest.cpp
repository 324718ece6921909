#include <sys/stat.h>
#include <unistd.h>

#include "store/KeyRoutines.h"
#include "store/StoreFixture.h"
#include "store/basZandrel.h"

namespace zandrel::testing {
namespace {

using store::DeleteKey;
using store::EnumSubKeys;
using store::SetKeyValue;

TEST(TextRules, TrimRemovesOnlySpaces) {
  EXPECT_EQ(store::Trim("  a b  "), "a b");
  EXPECT_EQ(store::Trim("\ta\t"), "\ta\t");
  EXPECT_EQ(store::Trim("   "), "");
  EXPECT_EQ(store::Trim(""), "");
}

TEST(TextRules, PrepareExtensionAddsOneDotUnlessThereIsOne) {
  const std::pair<const char*, const char*> rows[] = {
      {"txt", ".txt"}, {"  .TXT ", ".TXT"}, {"..x", "..x"}, {"", "."}, {"   ", "."}, {".", "."}, {"\tq", ".\tq"},
  };
  for (auto [in, out] : rows) EXPECT_EQ(store::PrepareExtension(in), out) << in;
}

class KeyRoutines : public StoreTest {};

TEST_P(KeyRoutines, SetKeyValueOnMissingKeyIsFalseSilentAndCreatesNothing) {
  EXPECT_FALSE(SetKeyValue(*registry, prompter, HKEY_CLASSES_ROOT, "nokey", "", "v"));
  EXPECT_TRUE(prompter.boxes.empty());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "nokey"));
}

TEST_P(KeyRoutines, SetKeyValueWritesUtf8BytesAndReadsBackWithOneNul) {
  SeedKey(*registry, HKEY_CLASSES_ROOT, "k");
  const std::string text = "Документ Ёлки";  // 13 characters, 24 bytes
  ASSERT_TRUE(SetKeyValue(*registry, prompter, HKEY_CLASSES_ROOT, "k", "", text));
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "k", 0), "|1|" + text + std::string(1, '\0'));
  EXPECT_TRUE(prompter.boxes.empty());
}

TEST_P(KeyRoutines, SetKeyValueRefusedShowsItsMessageAndClosesTheKey) {
  SeedKey(*registry, HKEY_CLASSES_ROOT, "k");
  FailingRegistry failing(*registry);
  failing.FailNth(1, ERROR_ACCESS_DENIED, Ops(RegOp::SetValue));
  EXPECT_FALSE(SetKeyValue(failing, prompter, HKEY_CLASSES_ROOT, "k", "", "Zq Value"));
  EXPECT_EQ(prompter.boxes, (std::vector<RecordingPrompter::Box>{{"Unable to set value of Zq Value to subkey ", 0}}));
  EXPECT_EQ(failing.LogLines(), (std::vector<std::string>{"Open k -> 0", "SetValue  -> 5", "Close  -> 0"}));
}

TEST_P(KeyRoutines, EnumSubKeysOfMissingKeyShowsUnableToOpen) {
  EXPECT_FALSE(EnumSubKeys(*registry, prompter, HKEY_CLASSES_ROOT, "a\\missing"));
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Unable to open a\\missing"});
  SeedKey(*registry, HKEY_CLASSES_ROOT, "a\\b");
  EXPECT_TRUE(EnumSubKeys(*registry, prompter, HKEY_CLASSES_ROOT, "a"));
  EXPECT_EQ(prompter.boxes.size(), 1u);
}

TEST_P(KeyRoutines, DeleteKeyRemovesSubkeysDeepestFirstAndReportsGone) {
  SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
  SeedKey(*registry, HKEY_CLASSES_ROOT, "Zq Other");
  FailingRegistry failing(*registry);
  EXPECT_TRUE(DeleteKey(failing, prompter, HKEY_CLASSES_ROOT, "Zq Title\\"));
  EXPECT_TRUE(prompter.boxes.empty());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Zq Title"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Zq Other"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, ".zq"));
  EXPECT_EQ(failing.LogLines(Ops(RegOp::DeleteKey)),
            (std::vector<std::string>{"DeleteKey DefaultIcon -> 0", "DeleteKey command -> 0", "DeleteKey open -> 0",
                                      "DeleteKey shell -> 0", "DeleteKey Zq Title -> 0"}));
}

TEST_P(KeyRoutines, DeleteKeyOfTwoNamesDeletesTheSecondBelowTheFirst) {
  SeedKey(*registry, HKEY_CLASSES_ROOT, "A\\B\\C");
  EXPECT_TRUE(DeleteKey(*registry, prompter, HKEY_CLASSES_ROOT, "A\\B"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "A"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "A\\B"));
}

TEST_P(KeyRoutines, DeleteKeyOfMissingKeyShowsUnableToOpenAndDeletesNothing) {
  SeedKey(*registry, HKEY_CLASSES_ROOT, "A");
  const std::string before = DumpClasses(*registry);
  EXPECT_FALSE(DeleteKey(*registry, prompter, HKEY_CLASSES_ROOT, "A\\nothing\\"));
  EXPECT_EQ(prompter.Texts(), std::vector<std::string>{"Unable to open A\\nothing"});
  EXPECT_EQ(DumpClasses(*registry), before);
}

TEST_P(KeyRoutines, DeleteKeyIsFalseWhenAnyDeletionIsRefused) {
  SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
  // Each deletion of the title key's subtree in turn: refused, the key stays.
  for (std::uint64_t n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    FailingRegistry failing(*registry);
    failing.FailNth(n, ERROR_ACCESS_DENIED, Ops(RegOp::DeleteKey));
    EXPECT_FALSE(DeleteKey(failing, prompter, HKEY_CLASSES_ROOT, "Zq Title"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Zq Title"));
    EXPECT_TRUE(prompter.boxes.empty());
    SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
  }
}

TEST(FileExists, TrueOnlyForAFileThatOpensForReading) {
  TempDir dir;
  const std::string file = dir.WriteFile("prog.exe", "MZ");
  EXPECT_TRUE(store::FileExists(file));
  EXPECT_FALSE(store::FileExists(dir.Path()));
  EXPECT_FALSE(store::FileExists(""));
  EXPECT_FALSE(store::FileExists(dir.Path() + "/missing.exe"));
  EXPECT_FALSE(store::FileExists(std::string("a\0b", 3)));
  if (geteuid() != 0) {
    const std::string locked = dir.WriteFile("locked.exe", "MZ");
    chmod(locked.c_str(), 0);
    EXPECT_FALSE(store::FileExists(locked));
  }
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 2);
}

ZANDREL_FOR_EACH_REGISTRY(KeyRoutines);

}  // namespace
}  // namespace zandrel::testing
