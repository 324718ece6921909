// The change of what opens one of the desktop's own types, made in the
// desktop's settings: zandrel-reg set and undo over the classes store laid
// over the desktop, GIO's own answers after them, and the preference of an
// application for every type it declares, through the desktop's seam.

#include <cstdlib>
#include <filesystem>

#include "capture/HistoryRegistry.h"
#include "freedesktop/DesktopDefaults.h"
#include "freedesktop/DesktopViewFixture.h"
#include "store/ChangeUndo.h"

namespace zandrel::freedesktop {
namespace {

class OwnProgram : public DesktopView {
 protected:
  void SetUp() override {
    DesktopView::SetUp();
    // A store to change (set opens an existing one only), and the desktop's
    // files in line with it.
    ASSERT_EQ(std::system((run + " import /dev/null 2>/dev/null; true").c_str()), 0);
    ASSERT_EQ(std::system((run + " desktop >/dev/null").c_str()), 0);
  }
  // GIO's type and default entry for each name, in a process of its own.
  std::string Gio(const std::string& names) {
    testing::WriteFile(store.File("names"), names);
    return CommandOutput(std::string(ZANDREL_GIO_PROBE) + " names < " + store.File("names"));
  }
  std::string Run(const std::string& args) { return CommandOutput(run + " " + args + " 2>&1; echo $?"); }
  std::string Read(const std::string& name) { return testing::ReadFile(home.File(name)); }
  // Every file of the desktop's settings and of Zandrel's, with its bytes' sum.
  std::string Files() {
    return CommandOutput("cd " + home.Path() +
                         " && find config data/applications data/mime/packages -type f ! -name mimeinfo.cache | sort | "
                         "xargs md5sum");
  }
};

// The lines a default adds end as the file's own do.
TEST(DesktopDefaults, NewLinesEndAsTheFilesDo) {
  const struct {
    std::string text, want;
  } rows[] = {
      {"[Default Applications]\r\na/b=x.desktop;\r\n",
       "[Default Applications]\r\na/b=x.desktop;\r\nt/z=z.desktop;\r\n\r\n[Added Associations]\r\nt/z=z.desktop;\r\n"},
      {"# mine\r\n[Added Associations]\r\nt/z=y.desktop;",
       "# mine\r\n[Added Associations]\r\nt/z=z.desktop;y.desktop;\r\n\r\n[Default Applications]\r\nt/z=z.desktop;\r\n"},
      {"[Default Applications]\n", "[Default Applications]\nt/z=z.desktop;\n\n[Added Associations]\nt/z=z.desktop;\n"},
  };
  for (const auto& row : rows) EXPECT_EQ(WithDefault(row.text, "t/z", "z.desktop", true), row.want) << row.text;
}

TEST_F(OwnProgram, SetWithAnEntryIdChangesTheUsersDefaultAlone) {
  const std::string before = Read("config/mimeapps.list");
  EXPECT_EQ(Run("set .zqa zq-desk.desktop"),
            At("Расширение .zqa: команда \"@/bin/tool\" \"%1\" заменена на \"@/bin/tool\" --desk \"%1\" (программа "
               "zq-desk.desktop, тип application/x-zqa).\nИзменён файл @/config/mimeapps.list.\n0\n"));
  // GIO's writer's two lines, every other byte as it was.
  EXPECT_EQ(Read("config/mimeapps.list"),
            "[Default Applications]\napplication/x-zqb=zq-files.desktop;\napplication/x-zqc-old=zq-spaced.desktop;\n"
            "application/x-zqa=zq-desk.desktop;\n\n[Removed Associations]\n"
            "application/x-zqe=zq-removed.desktop;\n\n[Added Associations]\napplication/x-zqa=zq-desk.desktop;\n");
  EXPECT_EQ(Gio("x.zqa\n"), "x.zqa application/x-zqa zq-desk.desktop\n");
  EXPECT_NE(Run("why .zqa").find("  [Default Applications] application/x-zqa=zq-desk.desktop; <- decides\n"),
            std::string::npos);
  EXPECT_EQ(Run("set .zqa zq-desk.desktop"),
            "Расширение .zqa уже открывается программой zq-desk.desktop. Ничего не изменено.\n0\n");
  EXPECT_EQ(Run("history"), Run("history")) << "nothing kept twice";
  EXPECT_NE(Run("undo"), "");
  EXPECT_EQ(Read("config/mimeapps.list"), before);
  EXPECT_EQ(Gio("x.zqa\n"), "x.zqa application/x-zqa zq-files.desktop\n");
}

// An entry's id names its folders below the application folder with dashes,
// at any depth, as GIO names it.
TEST_F(OwnProgram, AnEntryTwoFoldersDownIsFoundByItsId) {
  Write("system/applications/zq/sub/deep.desktop",
        "[Desktop Entry]\nType=Application\nName=deep\nExec=@/bin/tool --deep %f\nMimeType=application/x-zqb;\n");
  EXPECT_EQ(Run("set .zqa zq-sub-deep.desktop"),
            At("Расширение .zqa: команда \"@/bin/tool\" \"%1\" заменена на \"@/bin/tool\" --deep \"%1\" (программа "
               "zq-sub-deep.desktop, тип application/x-zqa).\nИзменён файл @/config/mimeapps.list.\n0\n"));
  EXPECT_EQ(Gio("x.zqa\n"), "x.zqa application/x-zqa zq-sub-deep.desktop\n");
}

TEST_F(OwnProgram, AFileOutrankingTheUsersChangesToo) {
  EXPECT_EQ(
      Run("set .zqb zq-spaced.desktop"),
      At("Расширение .zqb: команда \"@/bin/tool\" --desk \"%1\" заменена на \"@/bin/my tool\" --title \"a b\" \"%1\" "
         "(программа zq-spaced.desktop, тип application/x-zqb).\nИзменён файл @/config/mimeapps.list.\nИзменён "
         "файл @/config/zqdesk-mimeapps.list.\n0\n"));
  EXPECT_EQ(Read("config/zqdesk-mimeapps.list"), "[Default Applications]\napplication/x-zqb=zq-spaced.desktop;\n");
  EXPECT_EQ(Gio("x.zqb\n"), "x.zqb application/x-zqb zq-spaced.desktop\n");
}

TEST_F(OwnProgram, SetWithAProgramPathMakesItsEntryAndUndoGivesTheFilesBack) {
  testing::WriteFile(home.File("bin/opener"), "#!/bin/sh\necho \"$1\" > " + home.File("opened") + "\n");
  ::chmod(home.File("bin/opener").c_str(), 0755);
  const std::string before = Files();
  EXPECT_EQ(Run("set .zqa " + home.File("bin/opener")),
            At("Расширение .zqa: команда \"@/bin/tool\" \"%1\" заменена на \"@/bin/opener\" \"%1\" (программа "
               "zandrel.program-zqa.desktop, тип application/x-zqa).\nСоздан файл "
               "@/data/applications/zandrel.program-zqa.desktop.\nИзменён файл @/config/mimeapps.list.\n0\n"));
  EXPECT_EQ(Read("data/applications/zandrel.program-zqa.desktop"),
            At("# Written by Zandrel for a program chosen by its path; its undo removes this file.\n[Desktop Entry]\n"
               "Type=Application\nName=opener\nExec=@/bin/opener %f\nMimeType=application/x-zqa;\nNoDisplay=true\n"));
  EXPECT_EQ(Gio("x.zqa\n"), "x.zqa application/x-zqa zandrel.program-zqa.desktop\n");
  Write("a file.zqa", "text\n");
  EXPECT_EQ(std::system(("gio open '" + home.File("a file.zqa") + "'").c_str()), 0);
  for (int i = 0; i < 50 && Read("opened").empty(); ++i) ::usleep(100000);
  EXPECT_EQ(Read("opened"), home.File("a file.zqa") + "\n");
  const std::string after = Files();
  EXPECT_EQ(Run("undo"),
            "Изменение 1 (смена программы .zqa) отменено, ключей: 0. Отмена сохранена в истории как "
            "изменение 2.\n0\n");
  EXPECT_EQ(Files(), before);
  Run("redo");
  EXPECT_EQ(Files(), after);
}

TEST_F(OwnProgram, OnlyTheExtensionChangesUnlessAll) {
  Write("system/mime/packages/zs.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-zqs"><comment>ZQ S</comment><glob pattern="*.zqs"/><glob pattern="*.zqt"/></mime-type>
</mime-info>
)");
  Entry("system", "zq-s", "@/bin/tool --s %f", "application/x-zqs;");
  ASSERT_EQ(std::system(("update-mime-database " + home.File("system/mime")).c_str()), 0);
  ASSERT_EQ(std::system(("update-desktop-database " + home.File("system/applications")).c_str()), 0);
  EXPECT_EQ(Run("set .zqt zq-desk.desktop --all"),
            At("Расширение .zqt: команда \"@/bin/tool\" --s \"%1\" заменена на \"@/bin/tool\" --desk \"%1\" "
               "(программа zq-desk.desktop, тип application/x-zqs).\nТип application/x-zqs общий: той же программой "
               "теперь открываются и .zqs.\nИзменён файл @/config/mimeapps.list.\n0\n"));
  EXPECT_EQ(Gio("x.zqs\nx.zqt\n"),
            "x.zqs application/x-zqs zq-desk.desktop\nx.zqt application/x-zqs zq-desk.desktop\n");
  EXPECT_EQ(Run("set .zqs zq-spaced.desktop"),
            At("Расширение .zqs: команда \"@/bin/tool\" --desk \"%1\" заменена на \"@/bin/my tool\" --title \"a b\" "
               "\"%1\" (программа zq-spaced.desktop, тип application/x-zandrel-desktop-zqs).\nДля него сделан свой тип "
               "application/x-zandrel-desktop-zqs, подтип application/x-zqs, который остаётся у .zqt.\nСоздан файл "
               "@/data/mime/packages/zandrel-desktop.xml.\nИзменён файл @/config/mimeapps.list.\n0\n"));
  EXPECT_EQ(Gio("x.zqs\nx.zqt\n"),
            "x.zqs application/x-zandrel-desktop-zqs zq-spaced.desktop\nx.zqt application/x-zqs zq-desk.desktop\n");
  EXPECT_NE(Run("query 'HKCR\\.zqs'").find("application/x-zandrel-desktop-zqs"), std::string::npos)
      << "the desktop's row, its own type";
  Run("undo");
  EXPECT_FALSE(std::filesystem::exists(home.File("data/mime/packages/zandrel-desktop.xml")));
  EXPECT_EQ(Gio("x.zqs\n"), "x.zqs application/x-zqs zq-desk.desktop\n") << "its type gone with the undo";
}

TEST_F(OwnProgram, ALineChangedSinceKeepsTheUndo) {
  Run("set .zqa zq-desk.desktop");
  const std::string edited = Replace(Read("config/mimeapps.list"), "\napplication/x-zqa=zq-desk.desktop;\n\n",
                                     "\napplication/x-zqa=zq-spaced.desktop;\n\n");
  Write("config/mimeapps.list", edited);
  EXPECT_EQ(Run("undo"),
            At("zandrel-reg: Изменение 1 не отменено: файл @/config/mimeapps.list, строка 4 изменён после него. "
               "Ничего не изменено.\n1\n"));
  EXPECT_EQ(Read("config/mimeapps.list"), edited);
  // A line written above the change's lines moves them; that alone does not.
  Write("config/mimeapps.list", "# mine\n" + Replace(edited, "zq-spaced", "zq-desk"));
  EXPECT_EQ(Run("undo"),
            "Изменение 1 (смена программы .zqa) отменено, ключей: 0. Отмена сохранена в истории как "
            "изменение 2.\n0\n");
  EXPECT_EQ(Read("config/mimeapps.list").substr(0, 30), "# mine\n[Default Applications]\n");
}

TEST_F(OwnProgram, RefusalsSayWhy) {
  const std::string before = Files();
  EXPECT_EQ(Run("set .zqa zq-none.desktop"),
            At("zandrel-reg: Программы рабочего стола zq-none.desktop нет: файла zq-none.desktop нет в папках программ "
               "(@/data/applications, @/system/applications). Ничего не изменено.\n1\n"));
  Write("bin/plain", "text\n");
  EXPECT_EQ(Run("set .zqa " + home.File("bin/plain")),
            At("zandrel-reg: Файл @/bin/plain не исполняемый: им нельзя открывать файлы. Ничего не изменено.\n1\n"));
  ::chmod(home.Write("bin/100%", "#!/bin/sh\n").c_str(), 0755);
  EXPECT_EQ(Run("set .zqa '" + home.File("bin/100%") + "'"),
            At("zandrel-reg: Команду \"@/bin/100%\" \"%1\" нельзя записать в файл рабочего стола. Ничего не "
               "изменено.\n1\n"));
  ::chmod(home.Write("bin/a\"b", "#!/bin/sh\n").c_str(), 0755);
  EXPECT_EQ(Run("set .zqa '" + home.File("bin/a\"b") + "'"),
            At("zandrel-reg: В пути к программе @/bin/a\"b есть кавычка (\"), её не передать в команде. Ничего не "
               "изменено.\n1\n"));
  EXPECT_EQ(Run("set .zqa \"$(printf '/zq/a\\tb')\""),
            "zandrel-reg: В пути к программе /zq/a\\tb есть управляющий знак, его не передать в команде. Ничего не "
            "изменено.\n1\n");
  Entry("system", "zq-gone", "@/missing/zq %f", "application/x-zqa;");
  EXPECT_EQ(Run("set .zqa zq-gone.desktop"),
            At("zandrel-reg: Программа рабочего стола zq-gone.desktop здесь не запускается: в строке Exec её файла "
               "@/system/applications/zq-gone.desktop нет программы этого компьютера. Ничего не изменено.\n1\n"));
  // The user's hidden entry deletes the system's of the same id.
  Entry("data", "zq-gone", "@/bin/tool %f", "application/x-zqa;", "Hidden=true\n");
  Entry("system", "zq-gone", "@/bin/tool %f", "application/x-zqa;");
  EXPECT_EQ(Run("set .zqa zq-gone.desktop"),
            At("zandrel-reg: Программы рабочего стола zq-gone.desktop нет: файла zq-gone.desktop нет в папках программ "
               "(@/data/applications, @/system/applications). Ничего не изменено.\n1\n"));
  ::unlink(home.File("data/applications/zq-gone.desktop").c_str());
  std::filesystem::create_directories(home.File("data/applications/zandrel.program-zqa.desktop"));
  EXPECT_EQ(Run("set .zqa " + home.File("bin/tool")),
            At("zandrel-reg: Не удалось прочитать @/data/applications/zandrel.program-zqa.desktop: is a folder, not a "
               "file. Ничего не изменено.\n1\n"));
  EXPECT_EQ(Files(), before) << "nothing written";
}

// An application preferred for both types it declares, through the seam:
// one change, the file outranking the user's followed, undone whole.
TEST_F(OwnProgram, PreferTakesEveryTypeTheEntryDeclares) {
  capture::HistoryRegistry history(*hive);
  FreedesktopDesktop seam(history, *hive, XdgPaths::FromEnvironment(), HelperReader(HelperBesideProgram()),
                          assembly::ListedRows, HelperBesideProgram());
  seam.KeepFilesIn([&history](capture::FileRecord files, capture::FileContents contents, std::string* failure) {
    history.AttachFiles(std::move(files), std::move(contents), failure);
  });
  testing::SeedAssociation(*hive, ".zqh", "Zq Own", "/own %1");  // shadows the desktop's
  const std::string before = Files();
  history.Describe("prefer", "zq-spaced.desktop");
  std::vector<std::string> lines;
  ASSERT_TRUE(seam.Prefer(seam.Classes(), "zq-spaced.desktop", &lines).Ok());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Тип application/x-zqc: теперь открывается программой zq-spaced.desktop — .zqc.",
                       "Тип application/x-zqh: теперь открывается программой zq-spaced.desktop.",
                       "Тип application/x-zqa: теперь открывается программой zq-spaced.desktop — .zqa.",
                       "Расширение .zqh по-прежнему открывается своей ассоциацией Zandrel (описание Zq Own)."}));
  EXPECT_EQ(Gio("x.zqa\nx.zqc\nx.zqh\n"),
            "x.zqa application/x-zqa zq-spaced.desktop\nx.zqc application/x-zqc "
            "zq-spaced.desktop\nx.zqh application/x-zqh zq-spaced.desktop\n");
  lines.clear();
  ASSERT_TRUE(seam.Prefer(seam.Classes(), "zq-spaced.desktop", &lines).Ok());
  EXPECT_EQ(lines, std::vector<std::string>{"Программа zq-spaced.desktop уже выбрана для всех своих типов. Ничего не "
                                            "изменено."});
  lines.clear();
  Entry("system", "zq-none", "@/bin/tool %f", "");
  EXPECT_EQ(
      seam.Prefer(seam.Classes(), "zq-none.desktop", &lines).message,
      "Программа рабочего стола zq-none.desktop не называет ни одного типа файлов (MimeType). Ничего не изменено.");
  ::unlink(home.File("system/applications/zq-none.desktop").c_str());
  const store::UndoOutcome undone = store::UndoChange(history, 0);
  EXPECT_EQ(store::UndoMessage(undone),
            "Изменение 1 (приложение по умолчанию zq-spaced.desktop) отменено, ключей: 0. Отмена сохранена в истории "
            "как изменение 2.");
  EXPECT_EQ(Files(), before);
}

}  // namespace
}  // namespace zandrel::freedesktop
