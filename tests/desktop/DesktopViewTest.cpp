// The classes store over the desktop's own associations, in private XDG
// folders holding a generated MIME package and desktop entries: the view's
// rows as GIO decides them, the merge with Zandrel's hive, the changes it
// refuses, and when the view is rebuilt.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "desktop/DesktopClasses.h"
#include "registry/Defaults.h"
#include "registry/hive/Hive.h"
#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"
#include "support/Backends.h"
#include "support/Support.h"

namespace zandrel::store {
void PrintTo(const AssociationRow& r, std::ostream* out) { *out << r.extension << " | " << r.description << " | " << r.command; }
}  // namespace zandrel::store

namespace zandrel::desktop {

void PrintTo(const ViewRow& r, std::ostream* out) {
  *out << r.extension << " | " << r.type << " | " << r.description << " | " << r.command << " | " << r.icon << " | "
       << r.application;
}

namespace {

using testing::CommandOutput;
using testing::RecordingPrompter;
using testing::Replace;
using testing::TempDir;

// The XDG variables, set for one test and restored after it.
class Environment {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      it->second ? ::setenv(it->first, it->second->c_str(), 1) : ::unsetenv(it->first);
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

class DesktopView : public ::testing::Test {
 protected:
  // "@" in the texts below stands for the desktop's folder.
  void SetUp() override {
    for (const auto& [name, folder] : {std::pair{"XDG_DATA_HOME", "data"}, {"XDG_DATA_DIRS", "system"},
                                        {"XDG_CONFIG_HOME", "config"}, {"XDG_CONFIG_DIRS", "etc"}})
      env.Set(name, home.File(folder));
    env.Set("XDG_CURRENT_DESKTOP", "ZqDesk");
    env.Set("LANGUAGE", "ru");
    for (const char* program : {"bin/tool", "bin/my tool"}) ::chmod(home.Write(program, "#!/bin/sh\n").c_str(), 0755);
    Write("system/mime/packages/zq.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-zqa"><comment>ZQ A</comment><comment xml:lang="ru">Документ ZQ A</comment><glob pattern="*.zqa"/></mime-type>
  <mime-type type="application/x-zqb"><comment>ZQ B</comment><glob pattern="*.zqb"/></mime-type>
  <mime-type type="application/x-zqc"><comment>ZQ C</comment><alias type="application/x-zqc-old"/><glob pattern="*.zqc"/></mime-type>
  <mime-type type="application/x-zqbase"><comment>ZQ base</comment></mime-type>
  <mime-type type="application/x-zqd"><comment>ZQ D</comment><sub-class-of type="application/x-zqbase"/><glob pattern="*.zqd"/></mime-type>
  <mime-type type="application/x-zqe"><comment>ZQ E</comment><glob pattern="*.zqe"/></mime-type>
  <mime-type type="application/x-zqf"><comment>ZQ F</comment><glob pattern="*.zqf"/></mime-type>
  <mime-type type="application/x-zqg"><comment>ZQ G</comment><glob pattern="*.zqg"/></mime-type>
  <mime-type type="application/x-zqh"><comment>ZQ H</comment><glob pattern="*.zqh"/></mime-type>
  <mime-type type="application/x-zqn"><comment>ZQ N</comment><glob pattern="*.zqn"/></mime-type>
</mime-info>
)");
    Write("data/mime/packages/zandrel.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-zandrel-zqz"><comment>Zq own</comment><glob pattern="*.zqz"/></mime-type>
</mime-info>
)");
    Entry("system", "zq-files", "@/bin/tool %F", "application/x-zqa;application/x-zqb;", "Icon=zq-icon\n");
    Entry("system", "zq-spaced", R"("@/bin/my tool" --title "a b" %u)", "application/x-zqc;application/x-zqh;application/x-zqa;");
    Entry("system", "zq-desk", "@/bin/tool --desk %f", "application/x-zqb;");
    Entry("system", "zq-parent", "@/bin/tool --parent %f %i %c", "application/x-zqbase;",
          "Icon=@/zq.png\nName=Zq Parent\n");
    Entry("system", "zq-removed", "@/bin/tool %f", "application/x-zqe;");
    Entry("system", "zq-broken", "@/missing/zq %f", "application/x-zqf;");
    Entry("data", "zandrel-zqz", "@/bin/tool %f", "application/x-zandrel-zqz;application/x-zqg;",
          "X-Zandrel-Extension=.zqz\n");
    Write("config/mimeapps.list",
          "[Default Applications]\napplication/x-zqb=zq-files.desktop;\napplication/x-zqc-old=zq-spaced.desktop;\n"
          "application/x-zqg=zandrel-zqz.desktop;\n\n[Removed Associations]\napplication/x-zqe=zq-removed.desktop;\n");
    Write("config/zqdesk-mimeapps.list", "[Default Applications]\napplication/x-zqb=zq-desk.desktop;\n");
    Write("etc/mimeapps.list", "[Default Applications]\napplication/x-zqh=zq-spaced.desktop;\n");
    for (const char* folder : {"system", "data"}) {
      ASSERT_EQ(std::system(("update-mime-database " + home.File(folder) + "/mime").c_str()), 0);
      ASSERT_EQ(std::system(("update-desktop-database " + home.File(folder) + "/applications").c_str()), 0);
    }
    classes = std::make_unique<DesktopClasses>(*hive, XdgPaths::FromEnvironment(), HelperReader(HelperBesideProgram()));
  }

  void Write(const std::string& name, const std::string& text) const { home.Write(name, At(text)); }
  void Entry(const std::string& level, const std::string& id, const std::string& exec, const std::string& types,
             const std::string& more = "") const {
    Write(level + "/applications/" + id + ".desktop",
          "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec + "\nMimeType=" + types + "\n" + more);
  }
  std::string At(const std::string& text) const { return Replace(text, "@", home.Path()); }
  std::vector<ViewRow> Rows() {
    std::string error;
    std::optional<std::vector<ViewRow>> rows = HelperReader(HelperBesideProgram())(ViewRequest{}, &error);
    EXPECT_TRUE(rows) << error;
    return rows.value_or(std::vector<ViewRow>{});
  }
  std::vector<store::AssociationRow> Listed() { return store::AssociationListing(*classes).List().rows; }

  Environment env;
  TempDir home;
  TempDir store;
  std::unique_ptr<IRegistry> hive = testing::MakeRegistry(store.Path());
  std::unique_ptr<DesktopClasses> classes;
  const std::string run = "ZANDREL_HIVE=" + store.File("registry.db") + " " ZANDREL_REG;  // zandrel-reg over the hive
};

TEST_F(DesktopView, RowsAreWhatGioDecides) {
  // Left out: .zqe (its only program removed), .zqf (Exec names no program),
  // .zqg (its default is Zandrel's own entry), .zqn (no program), .zqz
  // (Zandrel's private type).
  const std::vector<ViewRow> expected{
      {".zqa", "application/x-zqa", "Документ ZQ A", R"("@/bin/tool" "%1")", "zq-icon", "zq-files.desktop"},
      {".zqb", "application/x-zqb", "ZQ B", R"("@/bin/tool" --desk "%1")", "", "zq-desk.desktop"},  // the desktop's own file wins
      {".zqc", "application/x-zqc", "ZQ C", R"("@/bin/my tool" --title "a b" "%1")", "", "zq-spaced.desktop"},  // by its alias
      {".zqd", "application/x-zqd", "ZQ D", R"("@/bin/tool" --parent "%1" --icon @/zq.png "Zq Parent")", "@/zq.png",
       "zq-parent.desktop"},  // by its parent type
      {".zqh", "application/x-zqh", "ZQ H", R"("@/bin/my tool" --title "a b" "%1")", "", "zq-spaced.desktop"},  // XDG_CONFIG_DIRS
  };
  std::vector<ViewRow> want;
  for (ViewRow row : expected) {
    row.command = At(row.command);
    row.icon = At(row.icon);
    want.push_back(row);
  }
  EXPECT_EQ(Rows(), want);
}

TEST_F(DesktopView, OwnKeysWinAndBothEnumerateInTheRegistrysOrder) {
  testing::SeedAssociation(*hive, ".zqa", "Zq Own", "/own %1");
  testing::SeedAssociation(*hive, ".ZQM", "Zq Own", "/own %1");
  EXPECT_EQ(Listed(), (std::vector<store::AssociationRow>{
                          {".zqa", "Zq Own", "/own %1"},
                          {".zqb", "application/x-zqb", At(R"("@/bin/tool" --desk "%1")")},
                          {".zqc", "application/x-zqc", At(R"("@/bin/my tool" --title "a b" "%1")")},
                          {".zqd", "application/x-zqd", At(R"("@/bin/tool" --parent "%1" --icon @/zq.png "Zq Parent")")},
                          {".zqh", "application/x-zqh", At(R"("@/bin/my tool" --title "a b" "%1")")},
                          {".ZQM", "Zq Own", "/own %1"}}));
  EXPECT_EQ(testing::DumpTree(*classes, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\application/x-zqb"),
            At("[SOFTWARE\\Classes\\application/x-zqb]\n  \"\" type 1: " + testing::Hex(std::string("ZQ B") + '\0') +
               "\n[SOFTWARE\\Classes\\application/x-zqb\\shell]\n[SOFTWARE\\Classes\\application/x-zqb\\shell\\open]\n"
               "[SOFTWARE\\Classes\\application/x-zqb\\shell\\open\\command]\n"
               "  \"\" type 1: " +
               testing::Hex(At(R"("@/bin/tool" --desk "%1")") + '\0') + "\n"));
  // The hive's own scans with the view's keys merged in hand over what the
  // calls do, from the classes root and from keys of either side.
  ASSERT_TRUE(hive->WalkReadsWholeFirst());
  for (const char* path : {"SOFTWARE\\Classes", "SOFTWARE\\Classes\\.zqa", "SOFTWARE\\Classes\\application/x-zqb"}) {
    SCOPED_TRACE(path);
    HKEY key = 0;
    ASSERT_EQ(classes->RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS);
    testing::Transcript calls, merged;
    ASSERT_EQ(registry::WalkThroughCalls(*classes, key, calls), ERROR_SUCCESS);
    ASSERT_EQ(classes->WalkSubtree(key, merged), ERROR_SUCCESS);
    EXPECT_EQ(merged.text, calls.text);
    classes->RegCloseKey(key);
  }
  // The extensions naming a title: the hive's with the view's it does not
  // hide, in the registry's order, as the plain calls find them.
  testing::SeedValue(*hive, ".zqk", "", REG_SZ, "application/x-zqb");
  for (const auto& [title, named] : std::vector<std::pair<std::string, std::string>>{
           {"zq own", ".zqa|.ZQM"}, {"APPLICATION/X-ZQB", ".zqb|.zqk"}, {"application/x-zqa", ""}}) {
    SCOPED_TRACE(title);
    std::vector<std::string> fast, plain;
    EXPECT_EQ(classes->ExtensionsNamingTitle(title.c_str(), &fast), ERROR_SUCCESS);
    EXPECT_EQ(classes->IRegistry::ExtensionsNamingTitle(title.c_str(), &plain), ERROR_SUCCESS);
    std::string joined;
    for (const std::string& e : fast) joined += (joined.empty() ? "" : "|") + e;
    EXPECT_EQ(joined, named);
    EXPECT_EQ(fast, plain);
  }
  // Removing its own .zqa shows the desktop's again.
  ASSERT_EQ(hive->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zqa"), ERROR_SUCCESS);
  EXPECT_EQ(Listed()[0], (store::AssociationRow{".zqa", "application/x-zqa", At(R"("@/bin/tool" "%1")")}));
}

TEST_F(DesktopView, RefusesEveryChangeToTheDesktopsKeys) {
  const std::string before = testing::DumpClasses(*classes);
  HKEY key = 0;
  DWORD disposition = 0;
  const BYTE data[] = "x";
  ASSERT_EQ(classes->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zqb", 0, KEY_ALL_ACCESS, &key), 0);
  EXPECT_EQ(classes->RegSetValueExA(key, "", 0, REG_SZ, data, 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(classes->RegDeleteValueA(key, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(classes->RegCreateKeyExA(key, "sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_ACCESS_DENIED);
  for (const char* path : {".zqb", ".ZQB\\sub", "application/x-zqb\\shell\\open\\command"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(classes->RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                      &disposition),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(classes->RegDeleteKeyA(HKEY_CLASSES_ROOT, path), ERROR_ACCESS_DENIED);
  }
  EXPECT_TRUE(classes->KeyOnlyInDesktopView(HKEY_CLASSES_ROOT, ".zqb"));
  EXPECT_FALSE(classes->KeyOnlyInDesktopView(HKEY_CLASSES_ROOT, ".zqe"));

  // The remover says whose it is before any question; the writer finds it there.
  RecordingPrompter prompter;
  store::RemoveAssociation(*classes, prompter, {".zqb", "application/x-zqb", 1});
  store::CreateAssociation(*classes, prompter, {".zqb", "Zq B", home.File("bin/tool"), 1});
  // So does a title that is one of the desktop's keys.
  store::CreateAssociation(*classes, prompter, {".zqq", "application/x-zqb", home.File("bin/tool"), 1});
  store::RemoveAssociation(*classes, prompter, {".zqq", "APPLICATION/X-ZQB", 1});
  const std::string how = " в настройках рабочего стола или командой xdg-mime default. ";
  EXPECT_EQ(prompter.boxes,
            (std::vector<RecordingPrompter::Box>{
                {"Ассоциация .zqb принадлежит рабочему столу. Измените её" + how + "Ничего не удалено.", MB_OK},
                {".zqb already in registry", MB_OK},
                {"Описание application/x-zqb принадлежит рабочему столу. Измените его" + how + "Ничего не записано.",
                 MB_OK},
                {"Описание APPLICATION/X-ZQB принадлежит рабочему столу. Измените его" + how + "Ничего не удалено.",
                 MB_OK}}));
  EXPECT_EQ(testing::DumpClasses(*classes), before);
  EXPECT_EQ(testing::DumpClasses(*hive), "[]\n");
}

TEST_F(DesktopView, RebuiltOnlyWhenItsFilesChange) {
  Listed();
  Listed();
  EXPECT_EQ(classes->ViewBuilds(), 1u);
  // Only lines changed: the extensions of their types are computed again,
  // .zqa with its new default, .zqe with its program back, .zqd without one
  // (removed from its parent type).
  Write("config/mimeapps.list", "[Default Applications]\napplication/x-zqa=zq-spaced.desktop;\n\n"
                                "[Removed Associations]\napplication/x-zqbase=zq-parent.desktop;\n");
  const std::vector<store::AssociationRow> listed = Listed();
  std::string extensions;
  for (const store::AssociationRow& row : listed) extensions += row.extension + " ";
  EXPECT_EQ(extensions, ".zqa .zqb .zqc .zqe .zqh ");
  EXPECT_EQ(listed[0], (store::AssociationRow{".zqa", "application/x-zqa", At(R"("@/bin/my tool" --title "a b" "%1")")}));
  EXPECT_EQ(classes->ViewBuilds(), 2u);
  EXPECT_EQ(classes->ViewRowFor(".ZQA")->description, "Документ ZQ A") << "kept from the first build";
  Entry("data", "zq-new", "@/bin/tool --new %f", "application/x-zqn;");
  ASSERT_EQ(std::system(("update-desktop-database " + home.File("data/applications")).c_str()), 0);
  EXPECT_EQ(Listed().back(), (store::AssociationRow{".zqn", "application/x-zqn", At(R"("@/bin/tool" --new "%1")")}));
  EXPECT_EQ(classes->ViewBuilds(), 3u);
}

TEST_F(DesktopView, WhyNamesEveryStep) {
  testing::SeedAssociation(*hive, ".zqa", "Zq Own", "/own %1");
  ASSERT_EQ(std::system((run + " import /dev/null 2>/dev/null; true").c_str()), 0);
  std::string own = store.File("own.reg");
  testing::WriteFile(own, "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqa]\n@=\"Zq Own\"\n[HKEY_CLASSES_ROOT\\Zq Own\\shell\\open\\command]\n@=\"/own %1\"\n"
                          "[HKEY_CLASSES_ROOT\\.zqi]\n@=\"Zq Imported\"\n[HKEY_CLASSES_ROOT\\Zq Imported\\shell\\open\\command]\n"
                          "@=\"" + At("@/bin/tool %1") + "\"\n");
  ASSERT_EQ(std::system((run + " import " + own).c_str()), 0);
  // An import reaches the desktop as every committed change does.
  EXPECT_NE(testing::ReadFile(home.File("data/applications/zandrel-zqi.desktop")).find("\nExec=" + At("@/bin/tool %f\n")),
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
                     "application/x-zqa -> " + At(R"("@/bin/tool" "%1")") + " (zq-files.desktop)\n"),
            std::string::npos)
      << zqa;
}

// A backup of the classes holds Zandrel's keys alone: exported and imported
// back, the hive, the list and the desktop's files are what they were.
TEST_F(DesktopView, ExportThenImportGivesBackTheStateBefore) {
  testing::SeedAssociation(*hive, ".zqa", "Zq Own", "/own %1");  // shadows the desktop's
  testing::WriteFile(store.File("own.reg"), At("REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqo]\n@=\"Zq O\"\n"
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
  for (const char c : testing::ReadFile(store.File("backup.reg"))) if (c != '\0') backup += c;
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
  const std::string why = ": the desktop's own association, which Zandrel shows but does not change: change it in "
                          "the desktop's settings or with xdg-mime default (error 536870917)\n";
  const struct {
    std::string lines, err;
  } rows[] = {
      {"[-HKEY_CLASSES_ROOT\\.zqb]\n", "line 2: cannot delete the key \"HKEY_CLASSES_ROOT\\.zqb\"" + why},
      {"[HKEY_CLASSES_ROOT\\.zzz]\n@=\"z\"\n[HKEY_CLASSES_ROOT\\application/x-zqb]\n@=-\n",
       "line 4: cannot create the key \"HKEY_CLASSES_ROOT\\application/x-zqb\"" + why},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZQC\\sub]\n",
       "line 2: cannot create the key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ZQC\\sub\"" + why},
  };
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
  EXPECT_NE(CommandOutput(why).find("\nterminal: zq-term.desktop needs a terminal (Terminal=true); none is installed, so "
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
  DesktopClasses lone(*hive, XdgPaths::FromEnvironment(), HelperReader(missing));
  const store::ListingResult listed = store::AssociationListing(lone).List();
  EXPECT_EQ(listed.rows, (std::vector<store::AssociationRow>{{".zqa", "Zq Own", "/own %1"}}));
  const std::string why = "cannot run " + missing + ": No such file or directory";
  EXPECT_EQ(listed.viewError, why);
  RecordingPrompter prompter;
  store::CreateAssociation(lone, prompter, {".zqb", "Evil", home.File("bin/tool"), 1});
  store::RemoveAssociation(lone, prompter, {".zqa", "Zq Own", 1});
  const std::string unread = "Ассоциации рабочего стола не прочитаны (" + why +
                             "): пока Zandrel их не видит, он ничего не меняет. ";
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
  const std::map<std::string, std::string> helpers = {
      {"failing", "exit 3"}, {"silent", "exit 0"}, {"abandoning", "(sleep 30 2>/dev/null &)\nexit 1"}};
  for (const auto& [folder, script] : helpers) {
    ASSERT_EQ(std::system(("cd " + home.Path() + " && mkdir -p none " + folder + " && cp " ZANDREL_REG " none/ && cp "
                           ZANDREL_REG " " + folder + "/").c_str()), 0);
    ::chmod(home.Write(folder + "/zandrel-desktop-view", "#!/bin/sh\n" + script + "\n").c_str(), 0755);
  }
  testing::WriteFile(store.File("evil.reg"), "REGEDIT4\n[HKEY_CLASSES_ROOT\\.zqb]\n@=\"EvilT\"\n"
                                             "[HKEY_CLASSES_ROOT\\EvilT\\shell\\open\\command]\n@=\"/evil %1\"\n");
  for (const std::string& helper : {missing, home.File("failing/zandrel-desktop-view"),
                                    home.File("silent/zandrel-desktop-view"), home.File("abandoning/zandrel-desktop-view")}) {
    SCOPED_TRACE(helper);
    const std::string program = helper.substr(0, helper.rfind('/')) + "/zandrel-reg";
    const std::string said = helper == missing                          ? why
                             : helper.find("/silent/") != std::string::npos ? helper + ": output is not a list of rows"
                                                                            : helper + " failed";
    EXPECT_EQ(CommandOutput(run + program + " import " + store.File("evil.reg") + " 2>&1; echo $?"),
              "zandrel-reg: " + store.File("evil.reg") + ", line 2: cannot create the key \"HKEY_CLASSES_ROOT\\.zqb\": "
              "the desktop's associations could not be read, and Zandrel changes no association while it cannot see "
              "them (error 536870918). Why: " + said + "\n1\n");
    EXPECT_EQ(CommandOutput(run + program + " query 'HKCR\\.zqa' 2>&1 >/dev/null; echo $?"),
              "zandrel-reg: the desktop's associations could not be read (" + said +
                  "): only Zandrel's own keys are shown\n0\n");
  }
  EXPECT_EQ(testing::DumpClasses(*hive).find("zqb"), std::string::npos);
  EXPECT_EQ(testing::ReadFile(home.File("config/mimeapps.list")).find("zandrel-zqb"), std::string::npos);
}

// This machine's own database: GIO's command-line tool names the same
// default application for every type the view lists.
TEST(DesktopViewOfThisMachine, AgreesWithGioMime) {
  std::string error;
  std::optional<std::vector<ViewRow>> rows = HelperReader(HelperBesideProgram())(ViewRequest{}, &error);
  ASSERT_TRUE(rows) << error;
  std::set<std::string> types;
  for (const ViewRow& row : *rows) {
    if (!types.insert(row.type).second) continue;
    const std::string said = CommandOutput("gio mime '" + row.type + "' 2>&1");
    EXPECT_EQ(said.substr(0, said.find('\n')), "Default application for “" + row.type + "”: " + row.application);
  }
}

}  // namespace
}  // namespace zandrel::desktop
