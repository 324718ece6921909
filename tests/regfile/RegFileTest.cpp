// .reg import and export: the regedit form byte for byte, the older forms,
// all-or-nothing imports that name the failing line, and key paths.
#include <gtest/gtest.h>

#include "platform/hive/Hive.h"
#include "regfile/RegText.h"
#include "regfile/RegFile.h"
#include "support/Backends.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using namespace zandrel::hive;

// UTF-16LE bytes with a BOM, as regedit writes them.
std::string Utf16File(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(utf8)) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

// A file in the exported form: every kind of value, escapes, wrapping,
// Cyrillic names, sections in enumeration order.
const std::string kExported =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq]\r\n"
    "\"Content Type\"=\"text/zzq\"\r\n"
    "@=\"Документ ZZQ\"\r\n"
    "\"Quoted \\\"name\\\"\"=\"C:\\\\Program Files\\\\Zzq\\\\zzq.exe \\\"%1\\\"\"\r\n"
    "\"Flags\"=dword:00010000\r\n"
    "\"Blob\"=hex:00,01,02,fe,ff\r\n"
    "\"Empty blob\"=hex:\r\n"
    "\"None\"=hex(0):\r\n"
    "\"Embedded\"=hex(1):61,00,62,00,00,00,63,00,64,00,00,00\r\n"
    "\"Empty text\"=hex(1):\r\n"
    "\"Path\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
    "  00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,6e,00,\\\r\n"
    "  6f,00,74,00,65,00,70,00,61,00,64,00,2e,00,65,00,78,00,65,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\"Short dword\"=hex(4):01,02\r\n"
    "\"Ёмкость\"=\"ёлка\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq\\OpenWithProgids]\r\n"
    "\"Документ ZZQ\"=\"\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq\\ShellNew]\r\n"
    "\"NullFile\"=\"\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq\\Подключ]\r\n"
    "\r\n";


class RegFiles : public ::testing::Test {
 protected:
  TempDir dir;
  std::unique_ptr<IRegistry> reg = MakeRegistry(dir.Path());
};

TEST_F(RegFiles, ImportThenExportRoundTripsByteForByte) {
  const std::string file = Utf16File(kExported);
  const RegImportResult result = ImportRegText(*reg, file, "zzq.reg");
  ASSERT_TRUE(result.ok) << result.message;
  std::string bytes, error;
  ASSERT_EQ(ExportRegText(*reg, "HKEY_CLASSES_ROOT\\.zzq", &bytes, &error), 0) << error;
  EXPECT_EQ(bytes, file);
  ASSERT_EQ(ExportRegText(*reg, "hkcr\\.zzq\\", &bytes, &error), 0) << error;
  EXPECT_EQ(bytes, file);
  // Strings are kept in the ANSI code page (UTF-8), whatever the file's form.
  const std::string dump = DumpTree(*reg, HKEY_CLASSES_ROOT, ".zzq");
  for (const std::string& line : {"\"Path\" type 2: " + Hex("%SystemRoot%\\system32\\notepad.exe" + std::string(1, '\0')),
                                 "\"Embedded\" type 1: " + Hex(std::string("ab\0cd\0", 6)), std::string("\"Flags\" type 4: 00 00 01 00"),
                                 "\"Ёмкость\" type 1: " + Hex(std::string("ёлка") + '\0')})
    EXPECT_NE(dump.find(line), std::string::npos) << line << "\n" << dump;
  EXPECT_EQ(ExportRegText(*reg, "HKCR\\.none", &bytes, &error), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(error, "cannot open the key \"HKCR\\.none\": not found (error 2)");
  EXPECT_EQ(ExportRegText(*reg, "HKXX\\.none", &bytes, &error), ERROR_BAD_PATHNAME);
  EXPECT_EQ(error, "unknown root key in \"HKXX\\.none\"");
}

TEST_F(RegFiles, TheDefaultStoreRoundTrips) {
  std::string error, first, second;
  auto seeded = OpenHiveSeeded(dir.File("seeded.db"), DefaultClassesReg(), &error);
  ASSERT_NE(seeded, nullptr) << error;
  ASSERT_EQ(ExportRegText(*seeded, "HKEY_CLASSES_ROOT", &first, &error), 0) << error;
  ASSERT_TRUE(ImportRegText(*reg, first, "all.reg").ok);
  ASSERT_EQ(ExportRegText(*reg, "HKCR", &second, &error), 0) << error;
  EXPECT_EQ(second, first);
  EXPECT_EQ(DumpClasses(*reg), DumpClasses(*seeded));
}

TEST_F(RegFiles, OtherFormsDeletionsAndContinuedLines) {
  const struct {
    const char* name;
    std::string text;
    std::string path;  // the subtree of HKCR\path afterwards holds each of `present` and none of `absent`
    std::vector<std::string> present, absent;
  } rows[] = {
      {"REGEDIT4 in ANSI with LF ends",
       "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.r4]\n@=\"r4file\"\n\"Exp\"=hex(2):25,41,25,00\n\n"
       "[HKEY_CLASSES_ROOT\\r4file\\shell]\n",
       "", {"[.r4]\n  \"\" type 1: 72 34 66 69 6c 65 00\n  \"Exp\" type 2: 25 41 25 00\n", "[r4file\\shell]"}, {}},
      {"UTF-8", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.ё]\r\n@=\"Ёлка\"\r\n", ".Ё",
       {"  \"\" type 1: d0 81 d0 bb d0 ba d0 b0 00\n"}, {}},
      {"UTF-8 with a BOM", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n[HKEY_CLASSES_ROOT\\.b]\r\n@=\"x\"\r\n",
       ".b", {"  \"\" type 1: 78 00\n"}, {}},
      {"continued hex with spaces",
       "REGEDIT4\n[HKEY_CLASSES_ROOT\\h]\n\"b\"=hex: 01 , 02,\\\n    03,\\\n  04\n\"s\"=\"ends with a backslash\\\\\"\n", "h",
       {"\"b\" type 3: 01 02 03 04\n  \"s\" type 1: " + Hex("ends with a backslash\\" + std::string(1, '\0')) + "\n"}, {}},
      {"deletions",
       "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zzq]\n\"Blob\"=-\n\"No such value\"=-\n[-HKEY_CLASSES_ROOT\\.zzq\\ShellNew]\n"
       "[-HKEY_CLASSES_ROOT\\.never\\existed]\n[-HKEY_CLASSES_ROOT\\.zzq\\Подключ]\n[-HKEY_CLASSES_ROOT\\.zzq\\OpenWithProgids]\n",
       ".zzq", {"\"Flags\"", "\"Empty blob\""}, {"\"Blob\"", "[.zzq\\", "error"}},
      {"a whole tree", "REGEDIT4\n[-HKEY_CLASSES_ROOT\\.zzq]\n", "", {"[r4file]"}, {"[.zzq]"}},
  };
  ASSERT_TRUE(ImportRegText(*reg, Utf16File(kExported), "zzq.reg").ok);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const RegImportResult result = ImportRegText(*reg, row.text, "r.reg");
    ASSERT_TRUE(result.ok) << result.message;
    const std::string dump = DumpTree(*reg, HKEY_CLASSES_ROOT, row.path);
    for (const std::string& text : row.present) EXPECT_NE(dump.find(text), std::string::npos) << text << "\n" << dump;
    for (const std::string& text : row.absent) EXPECT_EQ(dump.find(text), std::string::npos) << text << "\n" << dump;
  }
}

struct BadFileRow {
  const char* name;
  std::string text;
  int line;
  std::string what;
};

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kGood = "[HKEY_CLASSES_ROOT\\.good]\r\n@=\"goodfile\"\r\n\r\n";  // lines 3-5

const BadFileRow kBadFiles[] = {
        {"NoHeader", "[HKEY_CLASSES_ROOT\\.x]\r\n", 1,
                   "not a registry file: the first line must be \"Windows Registry Editor "
                   "Version 5.00\" or \"REGEDIT4\""},
        {"EmptyFile", "", 1,
                   "not a registry file: the first line must be \"Windows Registry Editor "
                   "Version 5.00\" or \"REGEDIT4\""},
        {"UnknownRoot", kHead + kGood + "[HKEY_NOWHERE\\x]\r\n", 6,
                   "unknown root key \"HKEY_NOWHERE\""},
        {"UnclosedBracket", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x\r\n", 6,
                   "a key line must end with \"]\""},
        {"EmptyKeyName", kHead + "[]\r\n", 3, "the key name is missing"},
        {"DeleteRoot", kHead + "[-HKEY_CLASSES_ROOT]\r\n", 3,
                   "a root key cannot be deleted"},
        {"ValueOutsideSection", kHead + "@=\"x\"\r\n", 3,
                   "a value outside a key section"},
        {"ValueAfterDeletedKey", kHead + "[-HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"b\"\r\n", 4,
                   "a value outside a key section"},
        {"NoEquals", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"name\" \"x\"\r\n", 7,
                   "expected \"=\" after the value name"},
        {"Garbage", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\nname=x\r\n", 7,
                   "expected a key in brackets, @= or \"name\"="},
        {"BadDword", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=dword:xyz\r\n", 7,
                   "a dword needs 1 to 8 hex digits"},
        {"LongDword",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=dword:123456789\r\n", 7,
                   "a dword needs 1 to 8 hex digits"},
        {"BadHex", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex:0g\r\n", 7,
                   "hex data must be bytes of two hex digits separated by commas"},
        {"BadHexOnContinuation",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex:01,\\\r\n  zz\r\n", 7,
                   "hex data must be bytes of two hex digits separated by commas"},
        {"BadHexType", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex(q):00\r\n",
                   7, "a hex type must read hex(N) with N in hex"},
        {"OddUtf16Text",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex(2):41,00,42\r\n", 7,
                   "UTF-16 text data has an odd number of bytes"},
        {"UnterminatedString",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"open\r\n", 7,
                   "a quoted text has no closing quote"},
        {"UnknownEscape",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"C:\\Windows\"\r\n", 7,
                   "unknown escape \"\\W\" in a quoted text"},
        {"TextAfterString",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"b\" c\r\n", 7,
                   "unexpected text after the closing quote"},
        {"UnknownData", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=qword:1\r\n", 7,
                   "unknown value data \"qword:1\""},
        {"NameTooLong",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x\\" + std::string(256, 'n') + "]\r\n", 6,
                   "cannot create the key \"HKEY_CLASSES_ROOT\\.x\\" + std::string(256, 'n') +
                       "\": a name is too long or the key is nested too deep (error 87)"},
};


TEST_F(RegFiles, ABadLineImportsNothingAndIsNamed) {
  ASSERT_EQ(SeedKey(*reg, ".existing"), 0);
  const std::string before = DumpClasses(*reg);
  for (const BadFileRow& row : kBadFiles) {
    SCOPED_TRACE(row.name);
    for (const std::string& text : {row.text, Utf16File(row.text)}) {
      if (row.line == 1 && text != row.text) continue;
      const RegImportResult result = ImportRegText(*reg, text, "bad.reg");
      EXPECT_FALSE(result.ok);
      EXPECT_EQ(result.line, row.line);
      EXPECT_EQ(result.message, "bad.reg, line " + std::to_string(row.line) + ": " + row.what);
      EXPECT_EQ(DumpClasses(*reg), before) << "imported in part";
    }
  }
}

TEST(RegFileNames, KeyPathsTakeLongAndShortRootNames) {
  const struct {
    std::string path;
    HKEY root;  // 0: refused
    std::string sub;
  } rows[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, ""}, {"HKCR\\.txt", HKEY_CLASSES_ROOT, ".txt"},
      {"hkcr\\\\a\\\\b\\", HKEY_CLASSES_ROOT, "a\\b"}, {"HKLM\\SOFTWARE\\Classes", HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"},
      {"HKEY_LOCAL_MACHINE\\x", HKEY_LOCAL_MACHINE, "x"}, {"HKCU\\Software", HKEY_CURRENT_USER, "Software"},
      {"HKEY_CURRENT_USER", HKEY_CURRENT_USER, ""}, {"HKU\\.DEFAULT", HKEY_USERS, ".DEFAULT"}, {"HKEY_USERS", HKEY_USERS, ""},
      {"HKEY_CLASSES", 0, ""}, {"", 0, ""}, {"\\HKCR", 0, ""}};
  for (const auto& row : rows) {
    HKEY root = 0;
    std::string sub = "unchanged";
    EXPECT_EQ(ParseKeyPath(row.path, &root, &sub), row.root != 0) << row.path;
    if (row.root != 0) {
      EXPECT_EQ(root, row.root) << row.path;
      EXPECT_EQ(sub, row.sub) << row.path;
    }
  }
}

}  // namespace
}  // namespace zandrel::testing
