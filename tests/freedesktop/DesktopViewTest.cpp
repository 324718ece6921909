// The classes store over the desktop's own associations: the view's rows as
// GIO decides them, the merge with Zandrel's hive, the changes it refuses,
// and when the view is rebuilt.

#include <cstdlib>
#include <optional>
#include <set>

#include "freedesktop/DesktopViewFixture.h"

namespace zandrel::freedesktop {
namespace {

TEST_F(DesktopView, RowsAreWhatGioDecides) {
  // Left out: .zqe (its only program removed), .zqf (Exec names no program),
  // .zqg (its default is Zandrel's own entry), .zqn (no program), .zqz
  // (Zandrel's private type).
  // clang-format off
  const std::vector<ViewRow> expected{
      {".zqa", "application/x-zqa", "Документ ZQ A", R"("@/bin/tool" "%1")", "zq-icon", "zq-files.desktop"},
      {".zqb", "application/x-zqb", "ZQ B", R"("@/bin/tool" --desk "%1")", "", "zq-desk.desktop"},  // the desktop's own file wins
      {".zqc", "application/x-zqc", "ZQ C", R"("@/bin/my tool" --title "a b" "%1")", "", "zq-spaced.desktop"},  // by its alias
      {".zqd", "application/x-zqd", "ZQ D", R"("@/bin/tool" --parent "%1" --icon @/zq.png "Zq Parent")", "@/zq.png",
       "zq-parent.desktop"},  // by its parent type
      {".zqh", "application/x-zqh", "ZQ H", R"("@/bin/my tool" --title "a b" "%1")", "", "zq-spaced.desktop"},  // XDG_CONFIG_DIRS
  };
  // clang-format on
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
  EXPECT_EQ(Listed(),
            (std::vector<store::AssociationRow>{
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
  // clang-format off
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
  // clang-format on
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
  store::RemoveAssociation(*classes, prompter, {".zqb", "application/x-zqb", 1}, desktop.get());
  store::CreateAssociation(*classes, prompter, {".zqb", "Zq B", home.File("bin/tool"), 1}, desktop.get());
  // So does a title that is one of the desktop's keys.
  store::CreateAssociation(*classes, prompter, {".zqq", "application/x-zqb", home.File("bin/tool"), 1}, desktop.get());
  store::RemoveAssociation(*classes, prompter, {".zqq", "APPLICATION/X-ZQB", 1}, desktop.get());
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
  Write("config/mimeapps.list",
        "[Default Applications]\napplication/x-zqa=zq-spaced.desktop;\n\n"
        "[Removed Associations]\napplication/x-zqbase=zq-parent.desktop;\n");
  const std::vector<store::AssociationRow> listed = Listed();
  std::string extensions;
  for (const store::AssociationRow& row : listed) extensions += row.extension + " ";
  EXPECT_EQ(extensions, ".zqa .zqb .zqc .zqe .zqh ");
  EXPECT_EQ(listed[0],
            (store::AssociationRow{".zqa", "application/x-zqa", At(R"("@/bin/my tool" --title "a b" "%1")")}));
  EXPECT_EQ(classes->ViewBuilds(), 2u);
  EXPECT_EQ(classes->ViewRowFor(".ZQA")->description, "Документ ZQ A") << "kept from the first build";
  Entry("data", "zq-new", "@/bin/tool --new %f", "application/x-zqn;");
  ASSERT_EQ(std::system(("update-desktop-database " + home.File("data/applications")).c_str()), 0);
  EXPECT_EQ(Listed().back(), (store::AssociationRow{".zqn", "application/x-zqn", At(R"("@/bin/tool" --new "%1")")}));
  EXPECT_EQ(classes->ViewBuilds(), 3u);
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
}  // namespace zandrel::freedesktop
