// zandrel-reg over the classes store laid over the desktop: why, export and
// import, the terminal a program needs, and a desktop whose helper is gone.

#include <cstdlib>

#include "freedesktop/DesktopViewFixture.h"

namespace zandrel::freedesktop {
namespace {

TEST_F(DesktopView, WhyNamesEveryStep) {
  testing::SeedAssociation(*hive, ".zqa", "Zq Own", "/own %1");
  ASSERT_EQ(std::system((run + " import /dev/null 2>/dev/null; true").c_str()), 0);
  std::string own = store.File("own.reg");
  testing::WriteFile(
      own,
      "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqa]\n@=\"Zq Own\"\n[HKEY_CLASSES_ROOT\\Zq Own\\shell\\open\\command]\n@=\"/own %1\"\n"
      "[HKEY_CLASSES_ROOT\\.zqi]\n@=\"Zq Imported\"\n[HKEY_CLASSES_ROOT\\Zq Imported\\shell\\open\\command]\n"
      "@=\"" +
          At("@/bin/tool %1") + "\"\n");
  ASSERT_EQ(std::system((run + " import " + own).c_str()), 0);
  // An import reaches the desktop as every committed change does.
  EXPECT_NE(
      testing::ReadFile(home.File("data/applications/zandrel-zqi.desktop")).find("\nExec=" + At("@/bin/tool %f\n")),
      std::string::npos);
  EXPECT_EQ(CommandOutput(run + " why .zqb"), At(R"(glob: *.zqb -> application/x-zqb (weight 50, @/system/mime/globs2)
type: GIO guesses application/x-zqb for a file named x.zqb
mimeapps.list: @/config/zqdesk-mimeapps.list
  [Default Applications] application/x-zqb=zq-desk.desktop; <- decides
mimeapps.list: @/config/mimeapps.list
  [Default Applications] application/x-zqb=zq-files.desktop;
mimeapps.list: @/etc/mimeapps.list
entry: @/system/applications/zq-desk.desktop
Exec=@/bin/tool --desk %f
store: .zqb -> application/x-zqb -> "@/bin/tool" --desk "%1" (the desktop's, zq-desk.desktop)
)"));
  EXPECT_EQ(CommandOutput(run + " why ..zqb"), CommandOutput(run + " why .zqb")) << "x..zqb is a .zqb";
  const std::string zqa = CommandOutput(run + " why .zqa");
  EXPECT_NE(zqa.find("\nstore: .zqa -> Zq Own -> /own %1 (Zandrel's own)\nshadowed: the desktop's .zqa -> "
                     "application/x-zqa -> " +
                     At(R"("@/bin/tool" "%1")") + " (zq-files.desktop)\n"),
            std::string::npos)
      << zqa;
}

// A backup of the classes holds Zandrel's keys alone: exported and imported
// back, the hive, the list and the desktop's files are what they were.
TEST_F(DesktopView, ExportThenImportGivesBackTheStateBefore) {
  testing::SeedAssociation(*hive, ".zqa", "Zq Own", "/own %1");  // shadows the desktop's
  testing::WriteFile(store.File("own.reg"),
                     At("REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqo]\n@=\"Zq O\"\n"
                        "[HKEY_CLASSES_ROOT\\Zq O\\shell\\open\\command]\n@=\"@/bin/tool %1\"\n"));
  ASSERT_EQ(std::system((run + " import " + store.File("own.reg")).c_str()), 0);
  const auto state = [&] {
    EXPECT_EQ(std::system((run + " desktop >/dev/null").c_str()), 0);
    std::string listed;
    for (const store::AssociationRow& row : Listed()) listed += row.extension + " " + row.description + "\n";
    return testing::DumpTree(*hive, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes") + listed +
           CommandOutput("cd " + home.Path() + " && find data/applications config -type f | sort | xargs md5sum");
  };
  const std::string before = state();
  ASSERT_EQ(std::system((run + " export HKCR " + store.File("backup.reg")).c_str()), 0);
  std::string backup;
  for (const char c : testing::ReadFile(store.File("backup.reg")))
    if (c != '\0') backup += c;
  EXPECT_NE(backup.find("[HKEY_CLASSES_ROOT\\.zqa]"), std::string::npos);
  EXPECT_EQ(backup.find("x-zqb"), std::string::npos) << "a desktop's key exported";
  ASSERT_EQ(std::system((run + " import " + store.File("backup.reg")).c_str()), 0);
  EXPECT_EQ(state(), before);
  EXPECT_EQ(CommandOutput(run + " export 'HKCR\\.zqb' " + store.File("zqb.reg") + " 2>&1"),
            "zandrel-reg: the key \"HKCR\\.zqb\" is the desktop's own association, which an export leaves out\n");
}

// A file that would change or shadow one of the desktop's keys is refused
// whole at that line.
TEST_F(DesktopView, AnImportTouchingTheDesktopsKeysIsRefused) {
  const std::string why =
      ": the desktop's own association, which Zandrel shows but does not change: change it in "
      "the desktop's settings or with xdg-mime default (error 536870917)\n";
  // clang-format off
  const struct {
    std::string lines, err;
  } rows[] = {
      {"[-HKEY_CLASSES_ROOT\\.zqb]\n", "line 2: cannot delete the key \"HKEY_CLASSES_ROOT\\.zqb\"" + why},
      {"[HKEY_CLASSES_ROOT\\.zzz]\n@=\"z\"\n[HKEY_CLASSES_ROOT\\application/x-zqb]\n@=-\n",
       "line 4: cannot create the key \"HKEY_CLASSES_ROOT\\application/x-zqb\"" + why},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZQC\\sub]\n",
       "line 2: cannot create the key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZQC\\sub\"" + why},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lines);
    testing::WriteFile(store.File("d.reg"), "REGEDIT4\n" + row.lines);
    EXPECT_EQ(CommandOutput(run + " import " + store.File("d.reg") + " 2>&1; echo $?"),
              "zandrel-reg: " + store.File("d.reg") + ", " + row.err + "1\n");
  }
  EXPECT_EQ(testing::DumpClasses(*hive), "[]\n");
}

// A program that runs in a terminal: its row shows the command as the
// terminal GIO finds runs it, or is marked when there is none; why says so.
TEST_F(DesktopView, TerminalProgramsShowTheirTerminal) {
  Entry("system", "zq-term", "@/bin/tool %f", "application/x-zqn;", "Terminal=true\n");
  ASSERT_EQ(std::system(("update-desktop-database " + home.File("system/applications")).c_str()), 0);
  env.Set("PATH", home.File("bin"));
  const std::string why = run + " why .zqn";
  const std::string command = At(R"("@/bin/tool" "%1")");
  EXPECT_EQ(Rows().back().command, "(нужен эмулятор терминала, его нет) " + command);
  EXPECT_NE(
      CommandOutput(why).find("\nterminal: zq-term.desktop needs a terminal (Terminal=true); none is installed, so "
                              "files of this type do not open\n"),
      std::string::npos);
  ::chmod(home.Write("bin/xterm", "#!/bin/sh\n").c_str(), 0755);
  EXPECT_EQ(Rows().back().command, At("\"@/bin/xterm\" -e ") + command);
  EXPECT_NE(CommandOutput(why).find(At("\nterminal: zq-term.desktop needs a terminal (Terminal=true); GIO runs it in "
                                       "@/bin/xterm -e\n")),
            std::string::npos);
}

// Without its helper (missing, or failing) the view cannot be read: the
// classes are the hive's own keys, and why is told; no change reaches the
// classes then, as it might take over one of the desktop's associations.
TEST_F(DesktopView, WithoutItsHelperTheHivesRowsStayAndNothingChanges) {
  testing::SeedAssociation(*hive, ".zqa", "Zq Own", "/own %1");
  const std::string missing = home.File("none/zandrel-desktop-view");
  const std::unique_ptr<FreedesktopDesktop> without = Desktop(missing);
  DesktopClasses& lone = without->Overlay();
  const store::ListingResult listed = store::AssociationListing(lone, without.get()).List();
  EXPECT_EQ(listed.rows, (std::vector<store::AssociationRow>{{".zqa", "Zq Own", "/own %1"}}));
  const std::string why = "cannot run " + missing + ": No such file or directory";
  EXPECT_EQ(listed.viewError, why);
  RecordingPrompter prompter;
  store::CreateAssociation(lone, prompter, {".zqb", "Evil", home.File("bin/tool"), 1}, without.get());
  store::RemoveAssociation(lone, prompter, {".zqa", "Zq Own", 1}, without.get());
  const std::string unread =
      "Ассоциации рабочего стола не прочитаны (" + why + "): пока Zandrel их не видит, он ничего не меняет. ";
  EXPECT_EQ(prompter.boxes, (std::vector<RecordingPrompter::Box>{{unread + "Ничего не записано.", MB_OK},
                                                                 {unread + "Ничего не удалено.", MB_OK}}));
  HKEY key = 0;
  EXPECT_EQ(lone.RegCreateKeyExA(HKEY_CLASSES_ROOT, ".zqb", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(testing::DumpClasses(*hive).find("zqb"), std::string::npos);

  // zandrel-reg as a copy without its helper beside it, and beside helpers
  // that fail: outright, by saying nothing, and leaving a child that holds
  // their output open (the run must not wait for it).
  const std::string run = "ZANDREL_HIVE=" + store.File("registry.db") + " timeout 10 ";
  testing::WriteFile(store.File("evil.reg"),
                     "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqb]\n@=\"EvilT\"\n"
                     "[HKEY_CLASSES_ROOT\\EvilT\\shell\\open\\command]\n@=\"/evil %1\"\n");
  const struct {
    std::string folder, script, said;  // the helper's script ("": none); what is said after its path
  } helpers[] = {{"none", "", ""},
                 {"failing", "exit 3", " failed"},
                 {"silent", "exit 0", ": output is not a list of rows"},
                 {"abandoning", "(sleep 30 2>/dev/null &)\nexit 1", " failed"}};
  for (const auto& [folder, script, after] : helpers) {
    SCOPED_TRACE(folder);
    const std::string helper = home.File(folder + "/zandrel-desktop-view"),
                      program = home.File(folder + "/zandrel-reg");
    ASSERT_EQ(
        std::system(("cd " + home.Path() + " && mkdir -p " + folder + " && cp " ZANDREL_REG " " + folder).c_str()), 0);
    if (!script.empty())
      ::chmod(home.Write(folder + "/zandrel-desktop-view", "#!/bin/sh\n" + script + "\n").c_str(), 0755);
    const std::string said = script.empty() ? why : helper + after;
    EXPECT_EQ(
        CommandOutput(run + program + " import " + store.File("evil.reg") + " 2>&1; echo $?"),
        "zandrel-reg: " + store.File("evil.reg") +
            ", line 2: cannot create the key \"HKEY_CLASSES_ROOT\\.zqb\": "
            "the desktop's associations could not be read, and Zandrel changes no association while it cannot see "
            "them (error 536870918). Why: " +
            said + "\n1\n");
    EXPECT_EQ(CommandOutput(run + program + " query 'HKCR\\.zqa' 2>&1 >/dev/null; echo $?"),
              "zandrel-reg: the desktop's associations could not be read (" + said +
                  "): only Zandrel's own keys are shown\n0\n");
  }
  EXPECT_EQ(testing::DumpClasses(*hive).find("zqb"), std::string::npos);
  EXPECT_EQ(testing::ReadFile(home.File("config/mimeapps.list")).find("zandrel-zqb"), std::string::npos);
}

}  // namespace
}  // namespace zandrel::freedesktop
