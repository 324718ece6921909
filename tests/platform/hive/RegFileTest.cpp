// .reg import and export: the regedit form byte for byte, all-or-nothing
// imports with the failing line named, and the older REGEDIT4 form.
#include <gtest/gtest.h>

#include <string>

#include "HiveTestSupport.h"
#include "regfile/RegText.h"
#include "regfile/RegFile.h"

namespace zandrel::hive::testing {
namespace {

// UTF-16LE bytes with a BOM, as regedit writes them.
std::string Utf16File(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16BytesText(const std::string& bytes) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return Utf16ToUtf8(units);
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

class RegFiles : public HiveTest {};

TEST_F(RegFiles, ImportThenExportRoundTripsByteForByte) {
  const std::string file = Utf16File(kExported);
  const RegImportResult result = ImportRegText(*reg_, file, "zzq.reg");
  ASSERT_TRUE(result.ok) << result.message;
  std::string bytes, error;
  ASSERT_EQ(ExportRegText(*reg_, "HKEY_CLASSES_ROOT\\.zzq", &bytes, &error), 0) << error;
  ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Utf16BytesText(bytes.substr(2)), kExported);
  EXPECT_EQ(bytes, file);
  // Short root names and any case address the same key.
  std::string again;
  ASSERT_EQ(ExportRegText(*reg_, "hkcr\\.zzq\\", &again, &error), 0) << error;
  EXPECT_EQ(again, file);
}

TEST_F(RegFiles, ImportStoresStringsInTheAnsiCodePage) {
  ASSERT_TRUE(ImportRegText(*reg_, Utf16File(kExported), "zzq.reg").ok);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".zzq\\OpenWithProgids"),
            "[]\n\"Документ ZZQ\" = 1:00\n");
  const std::string dump = Dump(*reg_, HKEY_CLASSES_ROOT, ".zzq");
  // "%SystemRoot%\system32\notepad.exe" as UTF-8 with its NUL.
  EXPECT_NE(dump.find("\"Path\" = 2:2553797374656d526f6f74255c73797374656d33325c6e6f746570616"
                      "42e65786500\n"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("\"Embedded\" = 1:616200636400\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("\"Flags\" = 4:00000100\n"), std::string::npos) << dump;
}

TEST_F(RegFiles, DefaultStoreRoundTrips) {
  const std::string seeded_path = dir_.File("seeded.db");
  std::string error;
  auto seeded = OpenHiveSeeded(seeded_path, DefaultClassesReg(), &error);
  ASSERT_NE(seeded, nullptr) << error;
  std::string first;
  ASSERT_EQ(ExportRegText(*seeded, "HKEY_CLASSES_ROOT", &first, &error), 0) << error;
  ASSERT_TRUE(ImportRegText(*reg_, first, "all.reg").ok);
  std::string second;
  ASSERT_EQ(ExportRegText(*reg_, "HKCR", &second, &error), 0) << error;
  EXPECT_EQ(second, first);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), Dump(*seeded, HKEY_CLASSES_ROOT, ""));
}

TEST_F(RegFiles, ExportOfMissingKeyFails) {
  std::string bytes, error;
  EXPECT_EQ(ExportRegText(*reg_, "HKCR\\.none", &bytes, &error), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(error, "cannot open the key \"HKCR\\.none\": not found (error 2)");
  EXPECT_EQ(ExportRegText(*reg_, "HKXX\\.none", &bytes, &error), ERROR_BAD_PATHNAME);
  EXPECT_EQ(error, "unknown root key in \"HKXX\\.none\"");
}

TEST_F(RegFiles, Regedit4FileInAnsiWithLfEnds) {
  const std::string file =
      "REGEDIT4\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.r4]\n"
      "@=\"r4file\"\n"
      "\"Exp\"=hex(2):25,41,25,00\n"
      "\n"
      "[HKEY_CLASSES_ROOT\\r4file\\shell\\open\\command]\n"
      "@=\"C:\\\\Windows\\\\notepad.exe %1\"\n";
  const RegImportResult result = ImportRegText(*reg_, file, "r4.reg");
  ASSERT_TRUE(result.ok) << result.message;
  // REGEDIT4 hex text is in the ANSI code page already: stored as it stands.
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".r4"),
            "[]\n\"\" = 1:723466696c6500\n\"Exp\" = 2:25412500\n");
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, "R4FILE\\Shell\\Open\\Command"));
}

TEST_F(RegFiles, Utf8FileWithOrWithoutBom) {
  for (const std::string bom : {"", "\xEF\xBB\xBF"}) {
    const std::string file = bom +
                             "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_CLASSES_ROOT\\.ё]\r\n@=\"Ёлка\"\r\n";
    const RegImportResult result = ImportRegText(*reg_, file, "u8.reg");
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".Ё"), "[]\n\"\" = 1:d081d0bbd0bad0b000\n");
    ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".ё"), 0);
  }
}

TEST_F(RegFiles, DeletionOfKeysAndValues) {
  ASSERT_TRUE(ImportRegText(*reg_, Utf16File(kExported), "zzq.reg").ok);
  const std::string file =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[-HKEY_CLASSES_ROOT\\.zzq\\OpenWithProgids]\r\n"
      "\r\n"
      "[-HKEY_CLASSES_ROOT\\.never\\existed]\r\n"
      "\r\n"
      "[HKEY_CLASSES_ROOT\\.zzq]\r\n"
      "\"Blob\"=-\r\n"
      "\"No such value\"=-\r\n"
      "\r\n"
      "[-HKEY_CLASSES_ROOT\\.zzq\\ShellNew]\r\n"
      "[-HKEY_CLASSES_ROOT\\.zzq\\Подключ]\r\n";
  const RegImportResult result = ImportRegText(*reg_, file, "del.reg");
  ASSERT_TRUE(result.ok) << result.message;
  const std::string dump = Dump(*reg_, HKEY_CLASSES_ROOT, ".zzq");
  EXPECT_EQ(dump.find("Blob"), std::string::npos);
  EXPECT_EQ(dump.find("[OpenWithProgids]"), std::string::npos);
  EXPECT_EQ(dump.find("[ShellNew]"), std::string::npos);
  EXPECT_EQ(dump.find("[Подключ]"), std::string::npos);
  EXPECT_NE(dump.find("\"Flags\""), std::string::npos);
  // A whole tree at once.
  ASSERT_TRUE(ImportRegText(*reg_, "REGEDIT4\n[-HKEY_CLASSES_ROOT\\.zzq]\n", "tree.reg").ok);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), "[]\n");
}

TEST_F(RegFiles, ContinuedHexLinesWithSpaces) {
  const std::string file =
      "REGEDIT4\n"
      "[HKEY_CLASSES_ROOT\\h]\n"
      "\"b\"=hex: 01 , 02,\\\n"
      "    03,\\\n"
      "  04\n"
      "\"s\"=\"ends with a backslash\\\\\"\n";
  const RegImportResult result = ImportRegText(*reg_, file, "h.reg");
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "h"),
            "[]\n\"b\" = 3:01020304\n\"s\" = 1:656e647320776974682061206261636b736c6173685c00\n");
}

struct BadFileRow {
  const char* label;
  std::string text;
  int line;
  std::string what;
};

void PrintTo(const BadFileRow& row, std::ostream* os) { *os << row.label; }

class BadRegFiles : public HiveTest, public ::testing::WithParamInterface<BadFileRow> {};

TEST_P(BadRegFiles, ImportNothingAndNameTheLine) {
  const BadFileRow& row = GetParam();
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".existing"), 0);
  const std::string before = Dump(*reg_, HKEY_CLASSES_ROOT, "");
  const RegImportResult result = ImportRegText(*reg_, row.text, "bad.reg");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.line, row.line);
  EXPECT_EQ(result.message, "bad.reg, line " + std::to_string(row.line) + ": " + row.what);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), before) << "nothing imported";
  // Also as UTF-16, the form regedit writes.
  if (row.line > 1) {
    const RegImportResult wide = ImportRegText(*reg_, Utf16File(row.text), "bad.reg");
    EXPECT_EQ(wide.message, result.message);
    EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), before);
  }
}

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kGood = "[HKEY_CLASSES_ROOT\\.good]\r\n@=\"goodfile\"\r\n\r\n";  // lines 3-5

INSTANTIATE_TEST_SUITE_P(
    Lines, BadRegFiles,
    ::testing::Values(
        BadFileRow{"NoHeader", "[HKEY_CLASSES_ROOT\\.x]\r\n", 1,
                   "not a registry file: the first line must be \"Windows Registry Editor "
                   "Version 5.00\" or \"REGEDIT4\""},
        BadFileRow{"EmptyFile", "", 1,
                   "not a registry file: the first line must be \"Windows Registry Editor "
                   "Version 5.00\" or \"REGEDIT4\""},
        BadFileRow{"UnknownRoot", kHead + kGood + "[HKEY_NOWHERE\\x]\r\n", 6,
                   "unknown root key \"HKEY_NOWHERE\""},
        BadFileRow{"UnclosedBracket", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x\r\n", 6,
                   "a key line must end with \"]\""},
        BadFileRow{"EmptyKeyName", kHead + "[]\r\n", 3, "the key name is missing"},
        BadFileRow{"DeleteRoot", kHead + "[-HKEY_CLASSES_ROOT]\r\n", 3,
                   "a root key cannot be deleted"},
        BadFileRow{"ValueOutsideSection", kHead + "@=\"x\"\r\n", 3,
                   "a value outside a key section"},
        BadFileRow{"ValueAfterDeletedKey", kHead + "[-HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"b\"\r\n", 4,
                   "a value outside a key section"},
        BadFileRow{"NoEquals", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"name\" \"x\"\r\n", 7,
                   "expected \"=\" after the value name"},
        BadFileRow{"Garbage", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\nname=x\r\n", 7,
                   "expected a key in brackets, @= or \"name\"="},
        BadFileRow{"BadDword", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=dword:xyz\r\n", 7,
                   "a dword needs 1 to 8 hex digits"},
        BadFileRow{"LongDword",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=dword:123456789\r\n", 7,
                   "a dword needs 1 to 8 hex digits"},
        BadFileRow{"BadHex", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex:0g\r\n", 7,
                   "hex data must be bytes of two hex digits separated by commas"},
        BadFileRow{"BadHexOnContinuation",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex:01,\\\r\n  zz\r\n", 7,
                   "hex data must be bytes of two hex digits separated by commas"},
        BadFileRow{"BadHexType", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex(q):00\r\n",
                   7, "a hex type must read hex(N) with N in hex"},
        BadFileRow{"OddUtf16Text",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=hex(2):41,00,42\r\n", 7,
                   "UTF-16 text data has an odd number of bytes"},
        BadFileRow{"UnterminatedString",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"open\r\n", 7,
                   "a quoted text has no closing quote"},
        BadFileRow{"UnknownEscape",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"C:\\Windows\"\r\n", 7,
                   "unknown escape \"\\W\" in a quoted text"},
        BadFileRow{"TextAfterString",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=\"b\" c\r\n", 7,
                   "unexpected text after the closing quote"},
        BadFileRow{"UnknownData", kHead + kGood + "[HKEY_CLASSES_ROOT\\.x]\r\n\"a\"=qword:1\r\n", 7,
                   "unknown value data \"qword:1\""},
        BadFileRow{"NameTooLong",
                   kHead + kGood + "[HKEY_CLASSES_ROOT\\.x\\" + std::string(256, 'n') + "]\r\n", 6,
                   "cannot create the key \"HKEY_CLASSES_ROOT\\.x\\" + std::string(256, 'n') +
                       "\": a name is too long or the key is nested too deep (error 87)"}),
    [](const auto& info) { return std::string(info.param.label); });

struct KeyPathRow {
  std::string path;
  bool ok;
  HKEY root;
  std::string sub;
};

TEST(RegFileNames, KeyPathsTakeLongAndShortRootNames) {
  const KeyPathRow rows[] = {
      {"HKEY_CLASSES_ROOT", true, HKEY_CLASSES_ROOT, ""},
      {"HKCR\\.txt", true, HKEY_CLASSES_ROOT, ".txt"},
      {"hkcr\\\\a\\\\b\\", true, HKEY_CLASSES_ROOT, "a\\b"},
      {"HKLM\\SOFTWARE\\Classes", true, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"},
      {"HKEY_LOCAL_MACHINE\\x", true, HKEY_LOCAL_MACHINE, "x"},
      {"HKCU\\Software", true, HKEY_CURRENT_USER, "Software"},
      {"HKEY_CURRENT_USER", true, HKEY_CURRENT_USER, ""},
      {"HKU\\.DEFAULT", true, HKEY_USERS, ".DEFAULT"},
      {"HKEY_USERS", true, HKEY_USERS, ""},
      {"HKEY_CLASSES", false, 0, ""},
      {"", false, 0, ""},
      {"\\HKCR", false, 0, ""},
  };
  for (const KeyPathRow& row : rows) {
    SCOPED_TRACE(row.path);
    HKEY root = 0;
    std::string sub = "unchanged";
    EXPECT_EQ(ParseKeyPath(row.path, &root, &sub), row.ok);
    if (row.ok) {
      EXPECT_EQ(root, row.root);
      EXPECT_EQ(sub, row.sub);
    }
  }
}

}  // namespace
}  // namespace zandrel::hive::testing
