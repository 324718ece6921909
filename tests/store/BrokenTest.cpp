// The associations that open nothing: one table of classes stores, each
// reason found and healthy rows never reported, on every backend (the hive;
// under Wine the machine's registry, where a Windows path can exist), then the
// texts and the failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <tuple>

#include "registry/Codes.h"
#include "store/BrokenAssociations.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/BrokenPrint.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using integration::BrokenAssociation;
using Found = std::vector<BrokenAssociation>;
using store::CheckResult;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

BrokenAssociation Finding(const std::string& e, const char* reason, const std::string& detail) {
  return {e, reason, detail, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + e, true};
}

struct CheckRow {
  const char* name;
  DWORD type;           // the command's type
  std::string command;  // "@" the test's folder; none when empty (the title only, or with `title` none at all)
  bool title = true;
  Found linux;  // what is found on Linux (the extension ".x")
  Found windows;
};

class Broken : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(dir.Write("tool.exe", "#!/bin/sh\n").c_str(), 0755);
    ::chmod(dir.Write("my tools/tool.exe", "#!/bin/sh\n").c_str(), 0755);
    dir.Write("plain.txt", "text");
  }
  CheckResult Check(IRegistry& registry, const std::vector<std::string>& only = {}) {
    return store::FindBrokenAssociations(registry, only, nullptr, probe);
  }
  std::string At(const std::string& text) const { return Replace(text, "@", dir.Path()); }

  TempDir dir;
  store::ProgramProbe probe;
};

TEST_F(Broken, EachReasonFoundAndHealthyRowsNeverReported) {
  const std::string sep = kWindows ? "\\" : "/";
  // clang-format off
  const CheckRow rows[] = {
      {"a quoted program that is here", REG_SZ, "\"@" + sep + "tool.exe\" \"%1\"", true, {}, {}},
      {"unquoted, the shortest run of words naming a file", REG_SZ, "@" + sep + "my tools" + sep + "tool.exe -x %1",
       true, {}, {}},
      {"the file runs itself", REG_SZ, "\"%1\" %*", true, {}, {}},
      {"no title key", REG_SZ, "", false, {Finding(".x", store::kTitleMissing, "T.x")}, {Finding(".x", store::kTitleMissing, "T.x")}},
      {"a title with no open command", REG_SZ, "", true, {Finding(".x", store::kNoOpenCommand, "T.x")},
       {Finding(".x", store::kNoOpenCommand, "T.x")}},
      {"a blank open command", REG_SZ, "   ", true, {Finding(".x", store::kNoOpenCommand, "T.x")},
       {Finding(".x", store::kNoOpenCommand, "T.x")}},
      {"a quoted program that is gone", REG_SZ, "\"@" + sep + "gone.exe\" \"%1\"", true,
       {Finding(".x", store::kProgramMissing, "@/gone.exe")}, {Finding(".x", store::kProgramMissing, "@\\gone.exe")}},
      {"unquoted and gone: the run that names an .exe", REG_SZ, "@" + sep + "gone app" + sep + "gone.exe /x %1", true,
       {Finding(".x", store::kProgramMissing, "@/gone app/gone.exe")},
       {Finding(".x", store::kProgramMissing, "@\\gone app\\gone.exe")}},
      {"a file that is no program", REG_SZ, "\"@" + sep + "plain.txt\" %1", true,
       {Finding(".x", store::kProgramNotExecutable, "@/plain.txt")}, {}},
      {"a folder", REG_SZ, "\"@\" %1", true, {Finding(".x", store::kProgramNotExecutable, "@")},
       {Finding(".x", store::kProgramMissing, "@")}},
      {"a Windows program: missing on Linux", REG_SZ, "C:\\Windows\\notepad.exe %1", true,
       {Finding(".x", store::kProgramMissing, "C:\\Windows\\notepad.exe")}, {}},
      {"a Windows program gone", REG_SZ, "C:\\Zandrel gone\\gone.exe %1", true,
       {Finding(".x", store::kProgramMissing, "C:\\Zandrel gone\\gone.exe")},
       {Finding(".x", store::kProgramMissing, "C:\\Zandrel gone\\gone.exe")}},
      {"%SystemRoot%, expanded on Windows", REG_EXPAND_SZ, "%SystemRoot%\\system32\\notepad.exe %1", true,
       {Finding(".x", store::kProgramMissing, "%SystemRoot%\\system32\\notepad.exe")}, {}},
      {"a name without a folder, looked for as the system looks", REG_SZ, "rundll32 shell32.dll,OpenAs_RunDLL %1", true,
       {Finding(".x", store::kProgramMissing, "rundll32")}, {}},
  };
  // clang-format on
  for (const CheckRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir folder;
    auto registry = MakeRegistry(folder.Path());
    SeedAssociation(*registry, ".ok", "Ok.File", At("\"@" + sep + "tool.exe\" \"%1\""));  // healthy, never reported
    ASSERT_EQ(SeedValue(*registry, ".x", "", REG_SZ, "T.x"), 0);
    if (!row.command.empty()) {
      ASSERT_EQ(SeedValue(*registry, "T.x\\shell\\open\\command", "", row.type, At(row.command)), 0);
    } else if (row.title) {
      ASSERT_EQ(SeedValue(*registry, "T.x", "", REG_SZ, "Title"), 0);
    }
    Found expected = kWindows ? row.windows : row.linux;
    for (BrokenAssociation& b : expected) b.detail = At(b.detail);
    const CheckResult found = Check(*registry);
    EXPECT_EQ(found.broken, expected);
    EXPECT_EQ(found.failure, "");
    EXPECT_EQ(Check(*registry, {".OK", "x"}).broken, expected) << "named, in any case, with or without the dot";
  }
}

TEST_F(Broken, TheVerbADoubleClickRunsIsTheOneChecked) {
  const std::string sep = kWindows ? "\\" : "/";
  const std::string runs = At("\"@" + sep + "tool.exe\" \"%1\""), gone = At("\"@" + sep + "gone.exe\" \"%1\"");
  using Seeds = std::vector<std::tuple<std::string, std::string, std::string>>;  // key under T.x, value, data
  // clang-format off
  const std::tuple<const char*, Seeds, const char*> rows[] = {
      {"the verb the shell key names", {{"shell", "", "edit"}, {"shell\\edit\\command", "", runs},
                                        {"shell\\open\\command", "", gone}}, nullptr},
      {"the first of its list that is there", {{"shell", "", "print, Edit open"}, {"shell\\edit\\command", "", gone},
                                               {"shell\\open\\command", "", runs}}, store::kProgramMissing},
      {"open when the shell key names none there", {{"shell", "", "gone"}, {"shell\\a\\command", "", gone},
                                                    {"shell\\open\\command", "", runs}}, nullptr},
      {"else the first verb", {{"shell\\a\\command", "", ""}, {"shell\\b\\command", "", runs}}, store::kNoOpenCommand},
      {"the first verb's command", {{"shell\\play\\command", "", runs}}, nullptr},
      {"a verb a COM object handles", {{"shell\\open\\command", "DelegateExecute", "{0}"}}, nullptr},
  };
  // clang-format on
  for (const auto& [name, seeds, reason] : rows) {
    SCOPED_TRACE(name);
    TempDir folder;
    auto registry = MakeRegistry(folder.Path());
    ASSERT_EQ(SeedValue(*registry, ".x", "", REG_SZ, "T.x"), 0);
    for (const auto& [key, value, data] : seeds) ASSERT_EQ(SeedValue(*registry, "T.x\\" + key, value, REG_SZ, data), 0);
    const Found found = Check(*registry).broken;
    EXPECT_EQ(found.empty() ? "" : found[0].reason, reason == nullptr ? "" : reason);
  }
}

TEST_F(Broken, AProgramIsAskedOnceAndNamedExtensionsWithoutOneAreErrors) {
  auto registry = MakeRegistry(dir.File("store"));
  for (int i = 0; i < 20; ++i) SeedAssociation(*registry, ".g" + std::to_string(i), "G", At("\"@/gone.exe\" \"%1\""));
  SeedValue(*registry, ".notitle", "Content Type", REG_SZ, "text/x");
  const CheckResult found = Check(*registry, {".g1", ".nothere", ".notitle", ".g2"});
  EXPECT_EQ(found.broken.size(), 2u);
  EXPECT_EQ(found.unknown, (std::vector<std::string>{".nothere", ".notitle"}));
  EXPECT_EQ(Check(*registry).broken.size(), 20u);
  EXPECT_EQ(probe.Asked(), 1u);
  SeedValue(*registry, ".lnk", "", REG_SZ, "lnkfile");
  EXPECT_EQ(Check(*registry, {".lnk"}).broken,
            (Found{{".lnk", store::kTitleMissing, "lnkfile", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.lnk", false}}))
      << "the shell's own: never Zandrel's to remove";
}

#ifndef _WIN32
// A shell run with no PATH still runs "sh" from the system's folders: the
// check, whose findings the clean-up deletes, must find it there too.
TEST_F(Broken, WithNoPathANameIsLookedForInTheSystemsFolders) {
  auto registry = MakeRegistry(dir.File("store"));
  SeedAssociation(*registry, ".sh1", "S", "sh \"%1\"");
  SeedAssociation(*registry, ".gone1", "G", "zandrel-no-such-program \"%1\"");
  const char* kept = std::getenv("PATH");
  const std::string saved = kept != nullptr ? kept : "";
  ::unsetenv("PATH");
  const CheckResult found = Check(*registry);
  if (kept != nullptr) ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(found.broken, Found{Finding(".gone1", store::kProgramMissing, "zandrel-no-such-program")});
}
#endif

TEST_F(Broken, AStoreThatCannotBeReadIsAFailureNotAnEmptyList) {
  auto registry = MakeRegistry(dir.File("store"));
  SeedAssociation(*registry, ".a", "A", "a %1");
  const std::string classes = "Не удалось прочитать HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
  const std::string denied = ": " + registry::DescribeCode(ERROR_ACCESS_DENIED);
  // The classes, the extension, its title, the title's command.
  for (const auto& [ops, nth, text] :
       {std::tuple{Open, 1, classes + denied}, std::tuple{EnumKey, 1, classes + denied},
        std::tuple{Open, 2, classes + "\\.a" + denied}, std::tuple{Open, 3, classes + "\\A" + denied},
        std::tuple{Open, 4, classes + "\\A\\shell" + denied}, std::tuple{EnumKey, 4, classes + "\\A\\shell" + denied},
        std::tuple{Open, 5, classes + "\\A\\shell\\open\\command" + denied}}) {
    FailingRegistry failing(*registry);
    failing.FailNth(nth, ERROR_ACCESS_DENIED, ops);
    const CheckResult found = Check(failing);
    EXPECT_EQ(found.failure, text);
    EXPECT_TRUE(found.broken.empty());
  }
}

TEST(BrokenLines, EachReasonInTheProgramsWords) {
  const std::pair<BrokenAssociation, const char*> lines[] = {
      {{".a", store::kTitleMissing, "T", "", true}, ".a: описания, которое называет расширение, нет (T)"},
      {{".a", store::kNoOpenCommand, "T", "", true}, ".a: у описания нет команды открытия (T)"},
      {{".a", store::kProgramMissing, "C:\\x.exe", "", true}, ".a: программы нет (C:\\x.exe)"},
      {{".a", store::kProgramNotExecutable, "/etc/x", "", true},
       ".a: программа не запускается: файл не исполняемый (/etc/x)"},
      {{".a", integration::kEntryMissing, "e.desktop, /m", "", true},
       ".a: программы рабочего стола по умолчанию нет (e.desktop, /m)"},
      {{".a", integration::kEntryProgramMissing, "/p, /e", "", false},
       ".a: программы, которую запускает файл рабочего стола, нет (/p, /e)"},
      {{".a", integration::kNoTerminal, "/e", "", false}, ".a: программе нужен эмулятор терминала, его нет (/e)"},
      {{".a", integration::kProgIdMissing, "P.1", "", false},
       ".a: описания (ProgID), которое называет выбор, нет (P.1)"},
  };
  for (const auto& [broken, line] : lines) EXPECT_EQ(store::BrokenLine(broken), line);
  EXPECT_EQ(store::NoAssociation(".zz"), "Расширение .zz ни с чем не связано: проверять нечего.");
}

}  // namespace
}  // namespace zandrel::testing
