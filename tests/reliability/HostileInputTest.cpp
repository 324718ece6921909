// Hostile input: bad text in the entry fields, hostile data in the hive, and
// hostile .reg files. Each gives its message or a clean error, nothing
// crashes, and a refused add leaves the registry as it was.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "regfile/RegFile.h"
#include "store/KeyRoutines.h"
#include "store/basZandrel.h"
#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

// A hex byte written with a long run of digits is read as a number, as
// regedit reads it: past 0xFF the value is left out with its line named, and
// reading the run does not overflow (UBSan stops here otherwise).
TEST(HostileRegFile, LongRunOfHexDigitsIsReadAsANumber) {
  ScratchDir dir;
  auto hive = MustOpenHive(dir.File("r.hive"));
  ASSERT_NE(hive, nullptr);
  const std::pair<std::string, std::string> rows[] = {
      {"fffffffffffffffffff", "[]\n[.hx]\n"},
      {"123", "[]\n[.hx]\n"},
      {"0000000000000000000000000000000001", "[]\n[.hx]\n  \"B\" type 3 size 3: 01 01 02\n"}};
  for (const auto& [digits, after] : rows) {
    SCOPED_TRACE(digits);
    const std::string text = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.hx]\n\"B\"=hex:01," + digits + ",02\n";
    const hive::RegImportResult result = hive::ImportRegText(*hive, text, "long.reg");
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(result.notes.size(), after.size() > 12 ? 0u : 1u);
    EXPECT_EQ(DumpClasses(*hive), after);
    ASSERT_EQ(hive->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".hx"), ERROR_SUCCESS);
  }
}

// The command and icon an add writes for `program`, read back by path.
std::string DefaultValue(IRegistry& registry, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
  char name[16];
  DWORD nameLength = sizeof name, type = 0;
  std::string data(1 << 16, '\0');
  DWORD size = static_cast<DWORD>(data.size());
  const LONG code = registry.RegEnumValueA(key, 0, name, &nameLength, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data.data()), &size);
  registry.RegCloseKey(key);
  if (code != ERROR_SUCCESS || nameLength != 0 || type != REG_SZ || size == 0) return "<no default value>";
  return data.substr(0, size - 1);
}

struct FieldRow {
  std::string name;
  std::string ext, title, program;
  std::vector<std::string> texts;  // "" in a text stands for the prepared extension / program path
  // For a successful add: the key paths of the extension and title keys as
  // the registry holds them (empty: the add must leave the store unchanged).
  std::string extKey, titleKey;
};

class EntryFields : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.WriteFile("bin/viewer", "#!/bin/sh\n");
    hive_ = MustOpenHive(dir_.File("fields.hive"));
    ASSERT_NE(hive_, nullptr);
    SeedAssociation(*hive_, ".txt", "txtfile", "/usr/bin/edit %1");
  }
  // Adds through the window; checks the messages and what the store holds.
  void Check(const FieldRow& row) {
    SCOPED_TRACE(row.name);
    const std::string before = DumpClasses(*hive_);
    HeadlessManager manager(*hive_);
    manager.Add(row.ext, row.title, row.program);
    EXPECT_EQ(manager.Texts(), row.texts);
    for (const auto& box : manager.platform.messages) EXPECT_EQ(box.flags, 0);
    EXPECT_EQ(manager.form->fraAsso.Caption(), "Добавить");  // still in add mode
    if (row.extKey.empty()) {
      EXPECT_EQ(DumpClasses(*hive_), before) << "a refused add changed the registry";
      return;
    }
    const std::string program = store::Trim(row.program);
    EXPECT_EQ(DefaultValue(*hive_, row.extKey), store::Trim(row.title));
    EXPECT_EQ(DefaultValue(*hive_, row.titleKey + "\\shell\\open\\command"), "\"" + program + "\" \"%1\"");
    EXPECT_EQ(DefaultValue(*hive_, row.titleKey + "\\DefaultIcon"), program + ",1");
  }

  ScratchDir dir_;
  std::string program_;
  std::unique_ptr<hive::HiveRegistry> hive_;
};

const char* const kNoExt = "Введите имя расширенния";
const char* const kNoTitle = "Введите описание";
const char* const kNoProgram = "Не тормози!Выбери программу для ассациации.";
std::string NotAFile(const std::string& p) { return p + " где ты его видишь?Ламер."; }

TEST_F(EntryFields, BadTextInEveryField) {
  const std::string p = program_;
  const std::string longExt(300, 'e');
  const std::string longTitle(10000, 'T');
  const std::vector<FieldRow> rows = {
      {"empty extension", "", "Zq", p, {kNoExt}, "", ""},
      {"spaces only", "    ", "Zq", p, {kNoExt}, "", ""},
      {"a dot", ".", "Zq", p, {kNoExt}, "", ""},
      {"a dot in spaces, other fields empty", "  .  ", "", "", {kNoExt}, "", ""},
      {"empty description", ".zq", "", p, {kNoTitle}, "", ""},
      {"description of spaces", ".zq", "     ", p, {kNoTitle}, "", ""},
      {"empty program", ".zq", "Zq", "", {kNoProgram}, "", ""},
      {"program of spaces", ".zq", "Zq", "   ", {kNoProgram}, "", ""},
      {"program that is a folder", ".zq", "Zq", dir_.Path(), {NotAFile(dir_.Path())}, "", ""},
      {"program that does not exist", ".zq", "Zq", dir_.File("missing"), {NotAFile(dir_.File("missing"))}, "", ""},
      {"program path with a NUL-free control character", ".zq", "Zq", p + "\x01", {NotAFile(p + "\x01")}, "", ""},
      {"300-character extension", longExt, "Zq", p, {"Unable to create ." + longExt}, "", ""},
      {"10,000-character description", ".zq", longTitle, p, {"Unable to create " + longTitle}, "", ""},
      {"two dots", "..", "Zq.Dots", p, {kAddDone}, "..", "Zq.Dots"},
      {"tab and control characters kept", "\t.t\x01", "Zq\tTab\x07", p, {kAddDone}, ".\t.t\x01", "Zq\tTab\x07"},
      {"Cyrillic", "ёлка", "Ёлочный.Файл", p, {kAddDone}, ".ёлка", "Ёлочный.Файл"},
      {"the same in upper case is already there", ".ЁЛКА", "Другой", p, {".ЁЛКА already in registry"}, "", ""},
      {"description with backslashes", ".bs", "Zq\\Nested\\Title", p,
       {"Описание не может содержать знак \\: Zq\\Nested\\Title"}, "", ""},
      {"a lone backslash as the extension", "\\", "Zq.Slash", p, {"Расширение не может содержать знак \\: .\\"}, "", ""},
      {"a backslash inside the extension", "a\\b", "Zq.Inside", p, {"Расширение не может содержать знак \\: .a\\b"}, "", ""},
      {"program path with spaces, trimmed", ".sp", "Zq.Spaces", "  " + p + "  ", {kAddDone}, ".sp", "Zq.Spaces"},
      {"a device as the program", ".dn", "Zq.Null", "/dev/null", {kAddDone}, ".dn", "Zq.Null"},
      {"another device", ".dz", "Zq.Zero", "/dev/zero", {kAddDone}, ".dz", "Zq.Zero"},
  };
  for (const FieldRow& row : rows) Check(row);
}

// A program file the user may not read. Root reads every file, so as root
// the check runs in a child that has become the user nobody; the same file
// as root is accepted, which is what opening it for reading gives.
TEST_F(EntryFields, ProgramWithoutReadPermission) {
  const std::string locked = dir_.WriteFile("locked/viewer", "#!/bin/sh\n");
  ::chmod(locked.c_str(), 0200);
  ::chmod(dir_.Path().c_str(), 0755);
  ::chmod(dir_.File("locked").c_str(), 0755);
  if (::geteuid() == 0) {
    ::chown(locked.c_str(), 65534, 65534);
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(6);
      ::_exit(store::FileExists(locked) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "as nobody: " << DescribeStatus(status);
    Check({"unreadable, as root", ".lk", "Zq.Locked", locked, {kAddDone}, ".lk", "Zq.Locked"});
  } else {
    Check({"unreadable", ".lk", "Zq.Locked", locked, {NotAFile(locked)}, "", ""});
  }
}

}  // namespace
}  // namespace zandrel::testing
