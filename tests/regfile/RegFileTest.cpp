// .reg import and export: the regedit form byte for byte, and the line
// rules by which regedit reads a file.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "registry/hive/Hive.h"
#include "regfile/RegFile.h"
#include "regfile/RegParser.h"
#include "registry/Defaults.h"
#include "registry/ForwardingRegistry.h"
#include "registry/KeyPath.h"
#include "registry/Names.h"
#include "registry/RegistryScript.h"
#include "support/Backends.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using hive::OpenHive;
using hive::OpenHiveSeeded;
using regfile::ExportRegText;
using regfile::ImportRegText;
using status::Status;

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
    "\"Empty text\"=\"\"\r\n"
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
  TempDir dir_;
  std::unique_ptr<IRegistry> reg_ = MakeRegistry(dir_.Path());
};

// The strings are stored in the ANSI code page; the export gives the file back byte for byte.
TEST_F(RegFiles, ImportThenExportRoundTripsByteForByte) {
  const std::string file = Utf16File(kExported);
  ASSERT_TRUE(IsOk(ImportRegText(*reg_, file, "zzq.reg")));
  std::string bytes;
  ASSERT_TRUE(IsOk(ExportRegText(*reg_, "HKEY_CLASSES_ROOT\\.zzq", &bytes)));
  EXPECT_EQ(bytes, file);
  EXPECT_EQ(DumpTree(*reg_, HKEY_CLASSES_ROOT, ".zzq\\OpenWithProgids"),
            "[.zzq\\OpenWithProgids]\n  \"Документ ZZQ\" type 1: 00\n");
  const std::string dump = DumpTree(*reg_, HKEY_CLASSES_ROOT, ".zzq");
  const std::string path = std::string("%SystemRoot%\\system32\\notepad.exe") + '\0';
  for (const std::string& value :
       std::vector<std::string>{"\"Path\" type 2: " + Hex(path), "\"Embedded\" type 1: 61 62 00 63 64 00",
                                "\"Flags\" type 4: 00 00 01 00"})
    EXPECT_NE(dump.find("  " + value + "\n"), std::string::npos) << dump;
}

TEST_F(RegFiles, WindowsSampleStoreRoundTrips) {
  std::unique_ptr<hive::HiveRegistry> seeded;
  ASSERT_TRUE(IsOk(OpenHiveSeeded(dir_.File("seeded.db"), SeedOf(WindowsClassesReg()), &seeded)));
  std::string first;
  ASSERT_TRUE(IsOk(ExportRegText(*seeded, "HKEY_CLASSES_ROOT", &first)));
  ASSERT_TRUE(IsOk(ImportRegText(*reg_, first, "all.reg")));
  std::string second;
  ASSERT_TRUE(IsOk(ExportRegText(*reg_, "HKCR", &second)));
  EXPECT_EQ(second, first);
  EXPECT_EQ(DumpClasses(*reg_), DumpClasses(*seeded));
}

// The line rules, one row per rule: the body (the lines after the header),
// read in the forms the row names, must leave HKEY_CLASSES_ROOT as shown
// (DumpClasses' lines after "[]"), or fail at the line shown. "~N" lines
// list the lines whose value is left out, as regedit leaves it out.
enum Forms { kBoth, kUnicode, kAnsi, kWhole8 };  // kWhole8: the body is the whole file

struct LineRow {
  const char* rule;
  Forms forms;
  std::string body;
  std::string expect;
};

// The file of one form: UTF-16LE with the Version 5.00 header, or 8-bit
// with the REGEDIT4 header.
std::string FileOf(const LineRow& row, bool unicode) {
  if (row.forms == kWhole8) return row.body;
  return unicode ? Utf16File("Windows Registry Editor Version 5.00\r\n" + row.body) : "REGEDIT4\n" + row.body;
}

// What an import answered, with the lines it left out.
struct Imported {
  Status status;
  std::vector<std::string> notes;
};

// Imports `file` into a fresh hive through the registry calls, and into
// another in bulk (the hive's ApplyChanges, as zandrel-reg imports);
// both must give the same result, notes and whole registry.
Imported ImportBothWays(const std::string& file, const std::string& folder, std::string* dump,
                        const std::string& seed = "") {
  Imported result[2];
  std::string whole[2];
  for (int bulk : {0, 1}) {
    std::unique_ptr<hive::HiveRegistry> hive;
    EXPECT_TRUE(IsOk(OpenHive(folder + (bulk ? "/bulk.db" : "/calls.db"), &hive)));
    if (!seed.empty()) {
      EXPECT_TRUE(IsOk(ImportRegText(*hive, seed, "seed.reg")));
    }
    CallsOnly calls(*hive);
    result[bulk].status =
        ImportRegText(bulk ? static_cast<IRegistry&>(*hive) : calls, file, "t.reg", &result[bulk].notes);
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS}) whole[bulk] += DumpTree(*hive, root, "");
  }
  EXPECT_EQ(result[1].status.code, result[0].status.code);
  EXPECT_EQ(result[1].status.message, result[0].status.message);
  EXPECT_EQ(result[1].notes, result[0].notes);
  EXPECT_EQ(whole[1], whole[0]);
  *dump = whole[0];
  return result[0];
}

// What the classes root holds after importing `file`, or the import's
// failure: kInvalid for what regedit refuses, kFailed with the registry's
// code for what the registry refuses; then the lines left out.
std::string Outcome(const std::string& file) {
  TempDir dir;
  std::string whole;
  const Imported r = ImportBothWays(file, dir.Path(), &whole);
  std::unique_ptr<hive::HiveRegistry> reg;
  EXPECT_TRUE(IsOk(OpenHive(dir.File("calls.db"), &reg)));
  std::string out = r.status.Ok() ? DumpClasses(*reg).substr(3) : r.status.message.substr(7) + "\n";
  if (!r.status.Ok()) {
    EXPECT_EQ(r.status.code,
              r.status.message.find("(error ") == std::string::npos ? Status::kInvalid : Status::kFailed);
  }
  for (const std::string& n : r.notes) out += "~" + n.substr(12, n.find(':') - 12) + "\n";  // "t.reg, line N: ..."
  return out;
}

const std::string K = "[HKEY_CLASSES_ROOT\\t]\n";

TEST(RegFileLines, ReadAsRegeditReadsThem) {
  // clang-format off
  const LineRow rows[] = {
      {"CR LF, CR and LF each end a line", kBoth, "[HKEY_CLASSES_ROOT\\t]\r\n\"a\"=\"1\"\r\"b\"=\"2\"\n@=\"3\"\r\n",
       "[t]\n  \"a\" type 1: 31 00\n  \"b\" type 1: 32 00\n  \"\" type 1: 33 00\n"},
      {"blanks before [, a name, @ and around =", kBoth, " \t" + K + " \"a\" \t= \t\"x\"\n\t@ = \"d\"\n",
       "[t]\n  \"a\" type 1: 78 00\n  \"\" type 1: 64 00\n"},
      {"blanks after dword:, hex: and hex(N):", kBoth, K + "\"d\"=dword: \t0000002a\n\"h\"=hex: 01, 02\n\"n\"=hex(0):\t03\n",
       "[t]\n  \"d\" type 4: 2a 00 00 00\n  \"h\" type 3: 01 02\n  \"n\" type 0: 03\n"},
      {"UTF-8 with a BOM; hex strings under the Version 5.00 header are UTF-16LE", kWhole8,
       "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n" + K + "@=\"ё\"\r\n\"e\"=hex(2):41,00\r\n",
       "[t]\n  \"\" type 1: d1 91 00\n  \"e\" type 2: 41 00\n"},
      {"blanks before the header", kWhole8, " \tREGEDIT4\n" + K, "[t]\n"},
      {"comment lines, also with blanks before", kBoth, "; c\n" + K + "  # c\n\t;\"a\"=\"b\"\n\"k\"=\"v\"\n",
       "[t]\n  \"k\" type 1: 76 00\n"},
      {"; after complete data", kBoth, K + "\"a\"=\"b\" ;n\n\"d\"=dword:00000004;n\n\"h\"=hex:01,02 ;n\n",
       "[t]\n  \"a\" type 1: 62 00\n  \"d\" type 4: 04 00 00 00\n  \"h\" type 3: 01 02\n"},
      {"; after a continuation \\", kBoth, K + "\"h\"=hex:56,00,\\;n\n  57\n", "[t]\n  \"h\" type 3: 56 00 57\n"},
      {"blank and comment lines inside hex data", kBoth, K + "\"h\"=hex:01,\\\n\n  ; c\n  02\n",
       "[t]\n  \"h\" type 3: 01 02\n"},
      {"deletion written with blanks", kBoth, K + "\"x\"=\"1\"\n\"y\"=\"2\"\n\"z\"=\"3\"\n\"x\"=  -\n\"y\"=- ;n\n\"z\"=-x\n",
       "[t]\n  \"z\" type 1: 33 00\n~8\n"},
      {"Windows 3.1 lines set default values", kWhole8,
       "REGEDIT\nHKEY_CLASSES_ROOT\\.w = wfile\nHKEY_CLASSES_ROOT\\wfile\\shell\\open\\command =  n %1\n"
       "HKEY_CLASSES_ROOT\\x=y\nhkey_classes_root\\lower = no\n",
       "[.w]\n  \"\" type 1: 77 66 69 6c 65 00\n"
       "[wfile]\n[wfile\\shell]\n[wfile\\shell\\open]\n[wfile\\shell\\open\\command]\n"
       "  \"\" type 1: 20 6e 20 25 31 00\n[x=y]\n  \"\" type 1: 00\n~5\n"},
      {"continuation onto a line that starts with a comma", kBoth, K + "\"h\"=hex:01,\\\n,02\n\"k\"=\"v\"\n",
       "[t]\n  \"k\" type 1: 76 00\n~3\n"},
      {"continuation ended by a blank line: the next line goes with it", kBoth,
       K + "\"h\"=hex:01,\\\n\n\"s\"=\"x\"\n\"k\"=\"v\"\n", "[t]\n  \"k\" type 1: 76 00\n~3\n"},
      {"continuation ended by the end of the file: the bytes read are kept", kBoth, K + "\"h\"=hex:01,\\\n\n",
       "[t]\n  \"h\" type 3: 01\n"},
      {"the same for hex(0)", kBoth, K + "\"h\"=hex(0):11,22,\\", "[t]\n  \"h\" type 0: 11 22\n"},
      {"the same for hex(2)", kBoth, K + "\"h\"=hex(2):41,00,\\\n", "[t]\n  \"h\" type 2: 41 00\n"},
      {"the same for hex(7)", kBoth, K + "\"h\"=hex(7):61,00,\\\n; c\n", "[t]\n  \"h\" type 7: 61 00\n"},
      {"the same for hex(100)", kBoth, K + "\"h\"=hex(100):22,33,\\", "[t]\n  \"h\" type 256: 22 33\n"},
      {"a line holding only \\", kBoth, K + "\"h\"=hex:01,\\\n\\\n\"k\"=\"v\"\n", "[t]\n  \"k\" type 1: 76 00\n~3\n"},
      {"hex bytes as regedit reads numbers, up to ff", kBoth, K + "\"h\"=hex:0x1f,+2,003,f\n\"i\"=hex:100\n",
       "[t]\n  \"h\" type 3: 1f 02 03 0f\n~4\n"},
      {"escapes in strings", kBoth, K + "\"s\"=\"a\\nb\\rc\\\\\\\"\"\n\"w\"=\"C:\\Win\"\n\"z\"=\"a\\0\"\n",
       "[t]\n  \"s\" type 1: 61 0a 62 0d 63 5c 22 00\n  \"w\" type 1: 43 3a 57 69 6e 00\n~4\n~5\n"},
      {"text that does not close, or goes on after the quote", kBoth, K + "\"a\"=\"b\n\"c\"=\"d\" e\n\"f\" \"g\"\n",
       "[t]\n~3\n~4\n~5\n"},
      {"dword: 1 to 8 digits; hex(N) with any number N; no type regedit does not know", kBoth,
       K + "\"a\"=dword:1\n\"b\"=dword:123456789\n\"c\"=dword:zz\n\"d\"=HEX:01\n\"e\"=qword:1\n\"f\"=hex(0x2):00\n"
           "\"g\"=hex(100):01\n\"h\"=hex( b):01\n",
       "[t]\n  \"a\" type 4: 01 00 00 00\n  \"g\" type 256: 01\n  \"h\" type 11: 01\n~4\n~5\n~6\n~7\n~8\n"},
      {"string types in hex: UTF-16LE, NUL added", kUnicode, K + "\"e\"=hex(2):41,00,42,00\n\"m\"=hex(7):61,00,00,00\n",
       "[t]\n  \"e\" type 2: 41 42 00\n  \"m\" type 7: 61 00\n"},
      {"string types in hex: ANSI, NUL added", kAnsi, K + "\"e\"=hex(2):41,42\n\"s\"=hex(1):\n",
       "[t]\n  \"e\" type 2: 41 42 00\n  \"s\" type 1: \n"},
      {"values outside a key are left out", kBoth, "\"a\"=\"b\"\n" + K + "[-HKEY_CLASSES_ROOT\\u]\n\"c\"=\"d\"\n",
       "[t]\n~2\n~5\n"},
      {"any other line is passed over", kBoth, K + "name=x\n\\\n\"k\"=\"v\"\n", "[t]\n  \"k\" type 1: 76 00\n~3\n~4\n"},
      {"the key name ends at the last ]", kBoth, "[HKEY_CLASSES_ROOT\\a]b] c\n", "[a]b]\n"},
      {"keys deleted, with their subtrees", kBoth,
       K + "[HKEY_CLASSES_ROOT\\u\\v]\n[-HKEY_CLASSES_ROOT\\u]\n[-HKEY_CLASSES_ROOT\\never]\n[-nothing]\n", "[t]\n~6\n"},
      // Lines regedit refuses with an error: nothing is imported.
      {"header with a blank after it", kWhole8, "REGEDIT4 \n" + K,
       "line 1: not a registry file: the first line must be \"Windows Registry Editor Version 5.00\", "
       "\"REGEDIT4\" or \"REGEDIT\"\n"},
      {"short root names", kBoth, "[HKCR\\t]\n", "line 2: unknown root key \"HKCR\"\n"},
      {"a root key deleted", kBoth, K + "[-HKEY_CLASSES_ROOT]\n", "line 3: a root key cannot be deleted\n"},
      {"a key path regedit cannot open", kBoth, "[HKEY_CLASSES_ROOT\\\\x]\n",
       "line 2: cannot create the key \"HKEY_CLASSES_ROOT\\\\x\": bad key path (error 161)\n"},
      // Where regedit would put the values that follow under the key before.
      {"a key line without ]", kBoth, K + "[HKEY_CLASSES_ROOT\\u\n\"a\"=\"b\"\n", "line 3: a key line must end with \"]\"\n"},
      {"a blank after [", kBoth, K + "[ HKEY_CLASSES_ROOT\\u]\n", "line 3: the key name must follow \"[\" directly\n"},
      {"hex data going on onto a key line", kBoth, K + "\"h\"=hex:01,\\\n[HKEY_CLASSES_ROOT\\u]\n",
       "line 4: a key line where the hex data of line 3 goes on\n"},
      {"UTF-16 text of an odd size", kUnicode, K + "\"e\"=hex(2):41,00,42\n", "line 3: UTF-16 text data has an odd number of bytes\n"},
  };
  // clang-format on
  for (const LineRow& row : rows) {
    for (bool unicode : {true, false}) {
      if ((row.forms == kUnicode && !unicode) || ((row.forms == kAnsi || row.forms == kWhole8) && unicode)) continue;
      SCOPED_TRACE(std::string(row.rule) + (unicode ? " (UTF-16LE)" : " (8-bit)"));
      EXPECT_EQ(Outcome(FileOf(row, unicode)), row.expect);
    }
  }
}

// What an import in bulk must get right that a file into an empty hive does
// not show: keys and values already there (their case kept, a value
// rewritten in its place), deletions between additions, both roads to the
// classes root. Each file goes both ways over the same store. (Files into an
// empty hive, the faults the calls refuse among them, are RegImportFuzzer's:
// its corpus replays them.)
TEST(RegFileBulk, ImportsAsTheCallsDo) {
  const std::string seed =
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zzq]\n@=\"Zzq.Doc\"\n\"Keep\"=\"1\"\n\"Other\"=\"2\"\n"
      "[HKEY_CLASSES_ROOT\\Zzq.Doc\\shell\\open\\command]\n@=\"/bin/zzq %1\"\n"
      "[HKEY_CURRENT_USER\\Software\\Zz]\n\"v\"=dword:1\n";
  // clang-format off
  const std::pair<const char*, std::string> rows[] = {
      {"keys and values already there, in another case",
       "[HKEY_CLASSES_ROOT\\.ZZQ]\n\"KEEP\"=\"one\"\n\"new\"=\"3\"\n@=\"Zzq.Doc2\"\n"
       "[hkey_classes_root\\zzq.doc\\Shell\\Print\\command]\n@=\"p %1\"\n"},
      {"the classes root by both roads, and a root's own values",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.zzq\\Sub]\n@=\"a\"\n[HKEY_CLASSES_ROOT\\.zzq\\SUB\\x]\n"
       "[HKEY_CLASSES_ROOT]\n\"rootval\"=\"r\"\n[HKEY_USERS\\u]\n"},
      {"deletions between additions",
       "[HKEY_CLASSES_ROOT\\.a\\b]\n\"x\"=\"1\"\n[-HKEY_CLASSES_ROOT\\.a]\n[HKEY_CLASSES_ROOT\\.a\\c]\n"
       "[-HKEY_CLASSES_ROOT\\Zzq.Doc]\n[HKEY_CLASSES_ROOT\\Zzq.Doc\\again]\n[HKEY_CLASSES_ROOT\\.zzq]\n"
       "\"Keep\"=-\n\"Other\"=\"b\"\n\"Keep\"=\"back, at the end\"\n\"gone\"=-\n"},
  };
  // clang-format on
  for (const auto& [what, body] : rows) {
    SCOPED_TRACE(what);
    TempDir dir;
    std::string whole;
    ImportBothWays("REGEDIT4\n" + body, dir.Path(), &whole, seed);
  }
}

// After an import in bulk the hive reads the same opened afresh, and a key
// created later never takes the id of one the import made (a handle to a
// deleted key would reach it).
TEST(RegFileBulk, HiveOpenedAfreshIsTheSameAndNoIdIsGivenTwice) {
  TempDir dir;
  std::string whole;
  ASSERT_TRUE(IsOk(ImportBothWays(Utf16File(kExported), dir.Path(), &whole).status));
  std::unique_ptr<hive::HiveRegistry> again;
  ASSERT_TRUE(IsOk(OpenHive(dir.File("bulk.db"), &again)));
  std::string fresh;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS}) fresh += DumpTree(*again, root, "");
  EXPECT_EQ(fresh, whole);
  // The file's last key has the largest id.
  RunScript(*again, R"(open HKCR ".zzq\\Подключ" read -> 0 as h1; delkey HKCR ".zzq\\Подключ" -> 0;
                       create HKCR .new read -> 0 as h2; enumkey h1 0 8 -> 1018; close h1 -> 0; close h2 -> 0)");
}

// regedit writes an empty string as ""; a string holding NUL keeps the hex
// form, which gives it back byte for byte.
TEST_F(RegFiles, ExportWritesEmptyStringsQuotedAndNulStringsInHex) {
  ASSERT_EQ(SeedValue(*reg_, ".e", "e", REG_SZ, ""), 0);
  ASSERT_EQ(SeedValue(*reg_, ".e", "n", REG_SZ, std::string("a\0b", 4)), 0);
  std::string bytes;
  ASSERT_TRUE(IsOk(ExportRegText(*reg_, "HKCR\\.e", &bytes)));
  EXPECT_EQ(bytes, Utf16File("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.e]\r\n\"e\"=\"\"\r\n"
                             "\"n\"=hex(1):61,00,00,00,62,00,00,00\r\n\r\n"));
}

}  // namespace
}  // namespace zandrel::testing
