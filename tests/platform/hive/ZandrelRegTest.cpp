// zandrel-reg as a user runs it: a separate process on the hive that
// ZANDREL_HIVE names, exit status and one-line errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "HiveTestSupport.h"
#include "regfile/RegText.h"

namespace zandrel::hive::testing {
namespace {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

class ZandrelReg : public ::testing::Test {
 protected:
  void SetUp() override { hive_ = dir_.File("hive/registry.db"); }

  RunResult Run(const std::vector<std::string>& args) {
    std::string command = "ZANDREL_HIVE=" + ShellQuote(hive_) + " " + ShellQuote(ZANDREL_REG_PATH);
    for (const auto& arg : args) command += " " + ShellQuote(arg);
    command += " >" + ShellQuote(dir_.File("out")) + " 2>" + ShellQuote(dir_.File("err"));
    RunResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir_.File("out"));
    result.err = ReadFile(dir_.File("err"));
    return result;
  }

  std::string WriteReg(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    WriteFile(path, text);
    return path;
  }

  TempDir dir_;
  std::string hive_;
};

const std::string kSmall =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq]\r\n"
    "\"Content Type\"=\"text/zzq\"\r\n"
    "@=\"zzqfile\"\r\n"
    "\"Flags\"=dword:0000002a\r\n"
    "\"Blob\"=hex:0a,0b\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq\\ShellNew]\r\n"
    "\"NullFile\"=\"\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.zzq\\Подключ]\r\n"
    "\r\n";

TEST_F(ZandrelReg, ImportThenQueryInRegExeLayout) {
  const RunResult import = Run({"import", WriteReg("small.reg", kSmall)});
  ASSERT_EQ(import.status, 0) << import.err;
  EXPECT_EQ(import.out, "");
  EXPECT_EQ(import.err, "");
  const RunResult query = Run({"query", "HKCR\\.zzq"});
  EXPECT_EQ(query.status, 0);
  EXPECT_EQ(query.out,
            "\n"
            "HKEY_CLASSES_ROOT\\.zzq\n"
            "    Content Type    REG_SZ    text/zzq\n"
            "    (Default)    REG_SZ    zzqfile\n"
            "    Flags    REG_DWORD    0x2a\n"
            "    Blob    REG_BINARY    0A0B\n"
            "    Multi    REG_MULTI_SZ    a\\0b\n"
            "\n"
            "HKEY_CLASSES_ROOT\\.zzq\\ShellNew\n"
            "HKEY_CLASSES_ROOT\\.zzq\\Подключ\n");
  const RunResult subtree = Run({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ", "/s"});
  EXPECT_EQ(subtree.status, 0);
  EXPECT_EQ(subtree.out,
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ\n"
            "    Content Type    REG_SZ    text/zzq\n"
            "    (Default)    REG_SZ    zzqfile\n"
            "    Flags    REG_DWORD    0x2a\n"
            "    Blob    REG_BINARY    0A0B\n"
            "    Multi    REG_MULTI_SZ    a\\0b\n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ\\ShellNew\n"
            "    NullFile    REG_SZ    \n"
            "\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZZQ\\Подключ\n");
}

TEST_F(ZandrelReg, ImportThenExportRoundTripsByteForByte) {
  std::string file = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(kSmall)) {
    file.push_back(static_cast<char>(unit & 0xFF));
    file.push_back(static_cast<char>(unit >> 8));
  }
  ASSERT_EQ(Run({"import", WriteReg("small.reg", file)}).status, 0);
  const RunResult exported = Run({"export", "HKCR\\.zzq", dir_.File("back.reg")});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(ReadFile(dir_.File("back.reg")), file);
}

TEST_F(ZandrelReg, FirstUseSeedsTheDefaultClassesStore) {
  const RunResult query = Run({"query", "HKCR\\.txt"});
  ASSERT_EQ(query.status, 0) << query.err;
  EXPECT_EQ(query.out,
            "\n"
            "HKEY_CLASSES_ROOT\\.txt\n"
            "    Content Type    REG_SZ    text/plain\n"
            "    PerceivedType    REG_SZ    text\n"
            "    (Default)    REG_SZ    txtfile\n"
            "\n"
            "HKEY_CLASSES_ROOT\\.txt\\ShellNew\n");
  // The hive is an ordinary one afterwards, readable in this process.
  std::string error;
  auto reg = OpenHive(hive_, &error);
  ASSERT_NE(reg, nullptr) << error;
  EXPECT_EQ(Dump(*reg, HKEY_CLASSES_ROOT, "txtfile\\shell\\open\\command"),
            "[]\n\"\" = 1:433a5c57696e646f77735c6e6f74657061642e65786520253100\n");
}

TEST_F(ZandrelReg, ImportWithErrorImportsNothingAndNamesTheLine) {
  ASSERT_EQ(Run({"query", "HKCR"}).status, 0);  // seeds the hive
  std::string error;
  const std::string before = Dump(*OpenHive(hive_, &error), HKEY_CLASSES_ROOT, "");
  const std::string path =
      WriteReg("bad.reg",
               "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.new]\r\n"
               "@=\"newfile\"\r\n[HKCR\\.short]\r\n");
  const RunResult result = Run({"import", path});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zandrel-reg: " + path + ", line 5: unknown root key \"HKCR\"\n");
  EXPECT_EQ(Dump(*OpenHive(hive_, &error), HKEY_CLASSES_ROOT, ""), before);
}

TEST_F(ZandrelReg, ValuesRegeditLeavesOutAreNamedAndTheRestImported) {
  const std::string path = WriteReg("part.reg",
                                    "REGEDIT4\n[HKEY_CLASSES_ROOT\\.part]\n\"x\"=dword:zz\n@=\"partfile\"\n");
  const RunResult result = Run({"import", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "zandrel-reg: " + path + ", line 3: a dword needs 1 to 8 hex digits: not imported\n");
  EXPECT_EQ(Run({"query", "HKCR\\.part"}).out, "\nHKEY_CLASSES_ROOT\\.part\n    (Default)    REG_SZ    partfile\n");
}

struct FailRow {
  const char* label;
  std::vector<std::string> args;
  std::string err;
};

void PrintTo(const FailRow& row, std::ostream* os) { *os << row.label; }

class ZandrelRegFailures : public ZandrelReg, public ::testing::WithParamInterface<FailRow> {};

TEST_P(ZandrelRegFailures, ExitOneWithOneLine) {
  std::vector<std::string> args = GetParam().args;
  std::string err = GetParam().err;
  for (auto* text : {&err}) {
    std::size_t at;
    while ((at = text->find("$DIR")) != std::string::npos) text->replace(at, 4, dir_.Path());
  }
  for (auto& arg : args) {
    std::size_t at;
    while ((at = arg.find("$DIR")) != std::string::npos) arg.replace(at, 4, dir_.Path());
  }
  const RunResult result = Run(args);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, err);
}

const std::string kUsage =
    "zandrel-reg: usage: zandrel-reg import FILE | export KEY FILE | query KEY [/s] | desktop\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, ZandrelRegFailures,
    ::testing::Values(
        FailRow{"NoVerb", {}, kUsage}, FailRow{"UnknownVerb", {"delete", "HKCR\\.txt"}, kUsage},
        FailRow{"ImportWithoutFile", {"import"}, kUsage},
        FailRow{"QueryBadSwitch", {"query", "HKCR", "/x"}, kUsage},
        FailRow{"ExportWithoutFile", {"export", "HKCR"}, kUsage},
        FailRow{"QueryMissingKey",
                {"query", "HKCR\\.nope"},
                "zandrel-reg: the key \"HKCR\\.nope\" does not exist\n"},
        FailRow{"QueryUnknownRoot",
                {"query", "HKXX\\.txt"},
                "zandrel-reg: unknown root key in \"HKXX\\.txt\"\n"},
        FailRow{"ExportMissingKey",
                {"export", "HKCR\\.nope", "$DIR/out.reg"},
                "zandrel-reg: cannot open the key \"HKCR\\.nope\": not found (error 2)\n"},
        // Every file argument that is not a usable file: one line, status 1.
        FailRow{"ExportIntoMissingFolder",
                {"export", "HKCR\\.txt", "$DIR/no/such/folder/out.reg"},
                "zandrel-reg: $DIR/no/such/folder/out.reg: cannot write the file: No such file or directory\n"},
        FailRow{"ExportOntoFolder", {"export", "HKCR\\.txt", "$DIR"}, "zandrel-reg: $DIR: is a folder, not a file\n"},
        FailRow{"ExportOntoFullDevice",
                {"export", "HKCR\\.txt", "/dev/full"},
                "zandrel-reg: /dev/full: cannot write the file: No space left on device\n"},
        FailRow{"ImportMissingFile",
                {"import", "$DIR/none.reg"},
                "zandrel-reg: $DIR/none.reg: cannot read the file: No such file or directory\n"},
        FailRow{"ImportFolder", {"import", "$DIR"}, "zandrel-reg: $DIR: is a folder, not a file\n"},
        FailRow{"ImportDevice", {"import", "/dev/zero"}, "zandrel-reg: /dev/zero: is a device, not a file\n"},
        FailRow{"ImportUnreadableFile",
                {"import", "/proc/self/mem"},
                "zandrel-reg: /proc/self/mem: cannot read the file: Input/output error\n"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(ZandrelReg, NonHiveFileIsNamedAndLeftAlone) {
  hive_ = dir_.File("notes.txt");
  WriteFile(hive_, "just some notes\n");
  const RunResult result = Run({"query", "HKCR"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "zandrel-reg: \"" + hive_ + "\" is not a registry hive: not a SQLite database\n");
  EXPECT_EQ(ReadFile(hive_), "just some notes\n");
}

}  // namespace
}  // namespace zandrel::hive::testing
