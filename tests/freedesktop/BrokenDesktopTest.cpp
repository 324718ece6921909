// The desktop's own associations that open nothing, in private XDG folders:
// a default naming an entry that is not there (the user's, removable; the
// system's, not), an entry whose Exec or TryExec program is missing, a
// terminal program with no terminal; zandrel-reg check --json read back by a
// JSON parser; check --remove and its undo, the user's file byte for byte.
#include "freedesktop/DesktopViewFixture.h"
#include "support/BrokenPrint.h"

namespace zandrel::freedesktop {
namespace {

using integration::BrokenAssociation;

class BrokenDesktop : public DesktopView {
 protected:
  void SetUp() override {
    DesktopView::SetUp();
    env.Set("PATH", home.File("bin"));  // no terminal
    // .zqe's one entry that could open it is taken away: its terminal program is what opens it.
    Write("config/mimeapps.list",
          "[Default Applications]\napplication/x-zqn=zq-gone.desktop;\n"
          "application/x-zqb=zq-files.desktop;\n[Removed Associations]\napplication/x-zqe=zq-removed.desktop;\n");
    Write("etc/mimeapps.list", "[Default Applications]\napplication/x-zqd=zq-gone2.desktop;\n");
    Entry("system", "zq-term", "vim %f", "application/x-zqe;", "Terminal=true\n");
    // .zqh's default opens: its entry with a missing TryExec is never taken.
    Entry("data", "zq-try", "@/bin/tool %f", "application/x-zqf;application/x-zqh;", "TryExec=@/missing/try\n");
    ::chmod(home.Write("bin/vim", "#!/bin/sh\n").c_str(), 0755);
  }
  BrokenAssociation Finding(const char* e, const char* reason, const std::string& detail, const std::string& where,
                            bool removable) const {
    return {e, reason, At(detail), At(where), removable};
  }
};

TEST_F(BrokenDesktop, MissingEntriesProgramsAndTerminalAreFoundHealthyOnesNot) {
  const std::vector<BrokenAssociation> expected = {
      Finding(".zqd", integration::kEntryMissing, "zq-gone2.desktop, @/etc/mimeapps.list", "@/etc/mimeapps.list",
              false),
      Finding(".zqe", integration::kNoTerminal, "@/system/applications/zq-term.desktop",
              "@/system/applications/zq-term.desktop", false),
      Finding(".zqf", integration::kEntryProgramMissing, "@/missing/zq, @/system/applications/zq-broken.desktop",
              "@/system/applications/zq-broken.desktop", false),
      Finding(".zqf", integration::kEntryProgramMissing, "@/missing/try, @/data/applications/zq-try.desktop",
              "@/data/applications/zq-try.desktop", false),
      Finding(".zqn", integration::kEntryMissing, "zq-gone.desktop, @/config/mimeapps.list", "@/config/mimeapps.list",
              true),
  };
  EXPECT_EQ(desktop->FindBroken({}), expected);
  EXPECT_EQ(desktop->FindBroken({".ZQN", ".zqa"}), std::vector<BrokenAssociation>{expected.back()});
  // The user's list a link to the system's: what others read is not the user's to edit.
  ::unlink(home.File("config/mimeapps.list").c_str());
  ::symlink(home.File("etc/mimeapps.list").c_str(), home.File("config/mimeapps.list").c_str());
  EXPECT_EQ(desktop->FindBroken({".zqd"}),
            (std::vector<BrokenAssociation>{Finding(".zqd", integration::kEntryMissing,
                                                    "zq-gone2.desktop, @/config/mimeapps.list",
                                                    "@/config/mimeapps.list", false),
                                            expected.front()}));
  ::chmod(home.Write("bin/xterm", "#!/bin/sh\n").c_str(), 0755);
  EXPECT_EQ(desktop->FindBroken({".zqe"}), std::vector<BrokenAssociation>{}) << "a terminal is installed now";
}

// What GIO opens with is no finding: a later entry of a line it takes when
// the first is not there, a type's last line, an entry started by D-Bus, one
// in a linked folder, the next folder's of an id whose first GIO cannot take, an entry's last Exec; with
// no default, broken entries beside one that opens; an entry Flatpak exports.
TEST_F(BrokenDesktop, DefaultsGioOpensWithAreNotFindings) {
  Write("config/mimeapps.list",
        "[Default Applications]\napplication/x-zqn=zq-gone.desktop;zq-broken.desktop;zq-files.desktop;\n"
        "application/x-zqa=zq-gone.desktop;\napplication/x-zqa=zq-bus.desktop;\n"
        "application/x-zqb=zq-linked-in.desktop;\n");
  Write("etc/mimeapps.list", "");
  Write("system/applications/zq-bus.desktop", "[Desktop Entry]\nType=Application\nName=b\nDBusActivatable=true\n");
  Entry("elsewhere", "in", "@/bin/tool %f", "");
  Entry("data", "zq-files", "@/missing/tool %f", "", "TryExec=@/missing/tool\n");  // the system's opens
  ::symlink(home.File("elsewhere/applications").c_str(), home.File("system/applications/zq-linked").c_str());
  EXPECT_EQ(desktop->FindBroken({".zqn", ".zqa", ".zqb"}), std::vector<BrokenAssociation>{});
  Write("system/applications/zq-twice.desktop",
        "[Desktop Entry]\nType=Application\nName=t\nExec=@/missing/zq\nExec=@/bin/tool %f\n");
  Write("config/mimeapps.list", "[Default Applications]\napplication/x-zqn=zq-twice.desktop;\n");
  EXPECT_EQ(desktop->FindBroken({".zqn"}), std::vector<BrokenAssociation>{}) << "the last Exec counts";
  Write("config/mimeapps.list",
        "[Default Applications]\napplication/x-zqn=zq-gone.desktop;\n  application/x-zqn=zq-twice.desktop;\n");
  EXPECT_EQ(desktop->FindBroken({".zqn"}), std::vector<BrokenAssociation>{}) << "an indented line is the last";
  Write("config/mimeapps.list", "[Default Applications] \n\t#x\n application/x-zqn = zq-gone.desktop;\n");
  EXPECT_EQ(desktop->FindBroken({".zqn"}).size(), 1u) << "a header with a blank after it, an indented line";
  Write("config/mimeapps.list", "[Default Applications]\napplication/x-zqn=zq-gone.desktop;zq-broken.desktop;\n");
  EXPECT_EQ(desktop->FindBroken({".zqn"}).size(), 2u) << "no entry of the line opens";
  // An entry in Flatpak's folder, which this shell's XDG_DATA_DIRS does not name.
  Write("data/flatpak/exports/share/applications/org.zq.Flat.desktop",
        "[Desktop Entry]\nType=Application\nName=f\nExec=@/bin/tool %f\n");
  Write("config/mimeapps.list", "[Default Applications]\napplication/x-zqn=org.zq.Flat.desktop;\n");
  EXPECT_EQ(desktop->FindBroken({".zqn"}), std::vector<BrokenAssociation>{}) << "Flatpak's entries are there";
  Entry("system", "zq-fine", "@/bin/tool %f", "application/x-zqf;");
  EXPECT_EQ(desktop->FindBroken({".zqf"}), std::vector<BrokenAssociation>{}) << "no default: an entry that opens it";
}

TEST_F(BrokenDesktop, CheckPrintsLinesOrJsonAndSaysWhatItFound) {
  // A title whose name holds a quote, a control character and Cyrillic.
  testing::WriteFile(store.File("q.reg"),
                     "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.zqq]\r\n"
                     "@=hex(1):51,00,22,00,01,00,16,04,00,00\r\n");
  ASSERT_EQ(CommandOutput(run + " import " + store.File("q.reg") + " 2>&1; echo $?"), "0\n");
  EXPECT_EQ(CommandOutput(run + " check .zqn .zqq .zqa .nothing 2>&1; echo $?"),
            At(".zqq: описания, которое называет расширение, нет (Q\"\x01Ж)\n"
               ".zqn: программы рабочего стола по умолчанию нет (zq-gone.desktop, @/config/mimeapps.list)\n"
               "zandrel-reg: Расширение .nothing ни с чем не связано: проверять нечего.\n2\n"));
  EXPECT_EQ(CommandOutput(run + " check .zqa; echo $?"), "0\n");
  const std::string json = CommandOutput(run + " check --json .zqq .zqf");
  EXPECT_NE(json.find("\"Q\\\"\\u0001Ж\""), std::string::npos) << json;
  testing::WriteFile(store.File("check.json"), json);
  EXPECT_EQ(CommandOutput("PATH=/usr/bin:/bin python3 -c 'import json, sys\n"
                          "for o in json.load(sys.stdin): print(sorted(o.items()))' < " +
                          store.File("check.json")),
            At("[('detail', 'Q\"\\x01Ж'), ('extension', '.zqq'), ('reason', 'title-missing'), "
               "('removable', True), ('where', 'HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Classes\\\\.zqq')]\n"
               "[('detail', '@/missing/zq, @/system/applications/zq-broken.desktop'), ('extension', '.zqf'), "
               "('reason', 'entry-program-missing'), ('removable', False), "
               "('where', '@/system/applications/zq-broken.desktop')]\n"
               "[('detail', '@/missing/try, @/data/applications/zq-try.desktop'), ('extension', '.zqf'), "
               "('reason', 'entry-program-missing'), ('removable', False), "
               "('where', '@/data/applications/zq-try.desktop')]\n"));
  EXPECT_EQ(CommandOutput(run + " check --json .zqa"), "[]\n");
  EXPECT_EQ(CommandOutput(run + " check zqa 2>&1; echo $?"),
            "zandrel-reg: not an extension: \"zqa\" (give it with its dot, as .txt)\n2\n");
}

TEST_F(BrokenDesktop, CheckRemoveTakesOutTheUsersMissingEntriesAndUndoGivesThemBack) {
  const std::string user = home.File("config/mimeapps.list");
  const std::string head =
      "# Zq's defaults\r\n[Added Associations]\r\napplication/x-zqn=zq-gone.desktop;\r\n\r\n"
      "[Default Applications]\r\n";
  const std::string tail = "application/x-zqb=zq-files.desktop;\r\n";
  // No entry of the line opens: the missing one goes, the one that is there stays.
  const std::string mixed = "application/x-zqa = zq-gone.desktop;zq-broken.desktop;\r\n";
  Write("config/mimeapps.list", head + "application/x-zqn=zq-gone.desktop;\r\n" + mixed + tail + "# keep\r\n");
  testing::WriteFile(store.File("q.reg"),
                     "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.zqq]\r\n@=\"Zq Gone\"\r\n");
  ASSERT_EQ(CommandOutput(run + " import " + store.File("q.reg") + " 2>&1; echo $?"), "0\n");
  const auto md5 = [&] { return CommandOutput("/usr/bin/md5sum < " + user); };
  const std::string before = md5();

  EXPECT_EQ(CommandOutput(run + " check --remove .zqn .zqa .zqd .zqq .zqb 2>&1; echo $?"),
            At(".zqa: программы рабочего стола по умолчанию нет (zq-gone.desktop, @/config/mimeapps.list) — удалено: "
               "@/config/mimeapps.list\n"
               ".zqn: программы рабочего стола по умолчанию нет (zq-gone.desktop, @/config/mimeapps.list) — удалено: "
               "@/config/mimeapps.list\n"
               ".zqq: описания, которое называет расширение, нет (Zq Gone) — удалено: "
               "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.zqq\n"
               ".zqa: программы, которую запускает файл рабочего стола, нет (@/missing/zq, "
               "@/system/applications/zq-broken.desktop) — оставлено, это не Zandrel удалять: "
               "@/system/applications/zq-broken.desktop\n"
               ".zqd: программы рабочего стола по умолчанию нет (zq-gone2.desktop, @/etc/mimeapps.list) — оставлено, "
               "это не Zandrel удалять: @/etc/mimeapps.list\n1\n"));
  // The entry stays first of its line; every other line, comment and line end as it was.
  EXPECT_EQ(testing::ReadFile(user), head + "application/x-zqa=zq-broken.desktop;\r\n" + tail + "# keep\r\n");
  EXPECT_EQ(CommandOutput(run + " check .zqa .zqn .zqq 2>&1; echo $?"),
            At(".zqa: программы, которую запускает файл рабочего стола, нет (@/missing/zq, "
               "@/system/applications/zq-broken.desktop)\n") +
                "zandrel-reg: Расширение .zqn ни с чем не связано: проверять нечего.\n"
                "zandrel-reg: Расширение .zqq ни с чем не связано: проверять нечего.\n2\n");
  const std::string history = CommandOutput(run + " history");
  EXPECT_NE(history.find("удаление неработающих .zqn .zqa .zqd .zqq .zqb, ключей: 1\n"), std::string::npos) << history;

  EXPECT_EQ(CommandOutput(run + " undo >/dev/null 2>&1; echo $?"), "0\n");
  EXPECT_EQ(md5(), before);
  EXPECT_EQ(CommandOutput(run + " check .zqq .zqa 2>&1; echo $?"),
            At(".zqq: описания, которое называет расширение, нет (Zq Gone)\n"
               ".zqa: программы рабочего стола по умолчанию нет (zq-gone.desktop, @/config/mimeapps.list)\n"
               ".zqa: программы, которую запускает файл рабочего стола, нет (@/missing/zq, "
               "@/system/applications/zq-broken.desktop)\n"
               "1\n"));
  EXPECT_EQ(CommandOutput(run + " check --remove .zqd 2>&1; echo $?"),
            At(".zqd: программы рабочего стола по умолчанию нет (zq-gone2.desktop, @/etc/mimeapps.list) — оставлено, "
               "это не Zandrel удалять: @/etc/mimeapps.list\n1\n"));
}

}  // namespace
}  // namespace zandrel::freedesktop
