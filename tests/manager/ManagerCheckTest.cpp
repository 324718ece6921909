// The manager window's check of the associations: the rows that open nothing
// dimmed at each listing, the list's menu entry naming them, and the removal
// it offers, undone by the undo entry.
#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

using integration::BrokenAssociation;

constexpr const char* kHealthy = "\"%1\"";  // a file that opens itself: healthy on every system

// The list's rows in order, a dimmed one starred: ".a .b*".
std::string Marks(const frmZandrel& form) {
  std::string marks;
  for (const ui::ListItem& item : form.lvwAsso.Items())
    marks += (marks.empty() ? "" : " ") + item.text + (item.dimmed ? "*" : "");
  return marks;
}

std::size_t CheckEntry(const frmZandrel& form) { return form.lvwAsso.ContextMenu().size() - 1; }

TEST_F(Manager, RowsThatOpenNothingAreDimmedAtEachListing) {
  SeedAssociation(*registry, ".ok", "Ok Title", kHealthy);
  Seed();  // .zq and .zr name programs that are not here
  form->cmdList.FireClick();
  EXPECT_EQ(Marks(*form), ".ok .zq* .zr*");
  form->lvwAsso.UserClickedColumn(0);
  form->lvwAsso.UserClickedColumn(0);
  EXPECT_EQ(Marks(*form), ".zr* .zq* .ok") << "a row keeps its mark through a sort";
  SeedValue(*registry, "Zq Title\\shell\\open\\command", "", REG_SZ, kHealthy);
  form->cmdList.FireClick();
  EXPECT_EQ(Marks(*form), ".zr* .zq .ok") << "marked again from a fresh check";
}

TEST_F(Manager, TheCheckNamesWhatOpensNothing) {
  std::vector<BrokenAssociation> desktops;  // the desktop's own, none of them Zandrel's to remove
  for (int i = 1; i <= 12; ++i)
    desktops.push_back({".d" + std::to_string(i), integration::kEntryMissing, "gone.desktop",
                        "/etc/xdg/mimeapps.list"});
  const std::string line = ": программы рабочего стола по умолчанию нет (gone.desktop)\r\n";
  std::string twelve = "Неработающих ассоциаций: 12\r\n\r\n";
  for (int i = 1; i <= 10; ++i) twelve += ".d" + std::to_string(i) + line;
  twelve += "…и ещё 2\r\n\r\nУдалить их Zandrel не может: они записаны не в его хранилище.";
  const struct {
    const char* name;
    std::vector<std::string> titlesGone;  // extensions naming a title that is not there
    std::size_t desktops;
    std::string text;
    int flags;
  } rows[] = {
      {"none", {}, 0, "Неработающих ассоциаций не найдено.", MB_OK | MB_ICONINFORMATION},
      {"three of the store's",
       {".ta", ".tb", ".tc"},
       0,
       "Неработающих ассоциаций: 3\r\n\r\n.ta: описания, которое называет расширение, нет (T.ta)\r\n"
       ".tb: описания, которое называет расширение, нет (T.tb)\r\n"
       ".tc: описания, которое называет расширение, нет (T.tc)\r\n\r\nУдалить неработающие?",
       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2},
      {"twelve of the desktop's", {}, 12, twelve, MB_OK | MB_ICONINFORMATION},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto store = MakeRegistry(dir.Path() + "/" + row.name);
    SeedAssociation(*store, ".ok", "Ok Title", kHealthy);
    for (const std::string& e : row.titlesGone) SeedValue(*store, e, "", REG_SZ, "T" + e);
    RecordingDesktop own(*store);
    own.broken.assign(desktops.begin(), desktops.begin() + static_cast<long>(row.desktops));
    frmZandrel f(platform, *store, nullptr, nullptr, nullptr, &own);
    f.Show();
    f.cmdList.FireClick();
    const std::string before = DumpClasses(*store);
    platform.ClearRecord();
    platform.AnswerNext(IDNO);
    f.lvwAsso.FireContextMenu(CheckEntry(f));
    ASSERT_EQ(Texts(), std::vector<std::string>{row.text});
    EXPECT_EQ(platform.messages[0].flags, row.flags);
    EXPECT_EQ(DumpClasses(*store), before) << "No changes nothing";
    EXPECT_TRUE(own.changes.empty());
    f.Close();
  }
}

// Yes removes what is Zandrel's as one change, lists again, tells the
// desktop, and names what it left; the undo entry gives it all back.
TEST_F(Manager, YesRemovesAndTheUndoGivesItBack) {
  capture::HistoryRegistry history(failing);
  SeedAssociation(*registry, ".ok", "Ok Title", kHealthy);
  Seed();
  SeedValue(*registry, ".lnk", "", REG_SZ, "lnkfile");  // the shell's own: kept, with why
  desktop.broken = {{".dk", integration::kEntryMissing, "gone.desktop", "/etc/xdg/mimeapps.list"}};
  Reopen(history);
  form->cmdList.FireClick();
  const std::string before = DumpClasses(*registry);
  // A removal that fails keeps everything and says why.
  failing.FailNth(1, ERROR_WRITE_FAULT, DeleteKey);
  platform.ClearRecord();
  platform.AnswerNext(IDYES);
  form->lvwAsso.FireContextMenu(CheckEntry(*form));
  ASSERT_EQ(Texts().size(), 2u);
  EXPECT_EQ(Texts()[1], "Не удалось удалить HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.zq. Ничего не удалено.");
  EXPECT_EQ(platform.messages[1].flags, MB_OK);
  EXPECT_EQ(DumpClasses(*registry), before);
  failing.FailNth(0, ERROR_SUCCESS);

  platform.ClearRecord();
  desktop.changes.clear();
  platform.AnswerNext(IDYES);
  form->lvwAsso.FireContextMenu(CheckEntry(*form));
  ASSERT_EQ(Texts().size(), 2u);
  EXPECT_EQ(Texts()[1],
            "Удалено неработающих ассоциаций: 2.\r\n\r\nНе удалены:\r\n"
            ".lnk: описания, которое называет расширение, нет (lnkfile) — HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.lnk "
            "(это файлы, которые Windows запускает сама, без него они перестанут открываться)\r\n"
            ".dk: программы рабочего стола по умолчанию нет (gone.desktop) — /etc/xdg/mimeapps.list");
  EXPECT_EQ(platform.messages[1].flags, MB_OK);
  EXPECT_EQ(Marks(*form), ".ok");
  EXPECT_EQ(desktop.Committed(), std::vector<std::string>{""}) << "told of several extensions";
  EXPECT_EQ(desktop.CommittedAt(), std::vector<std::size_t>{2}) << "after the closing message";

  platform.ClearRecord();
  platform.AnswerNext(IDYES);
  form->lvwAsso.FireContextMenu(0);
  EXPECT_EQ(std::regex_replace(Texts()[0], std::regex(", [-0-9: ]+\\)"), ")"),
            "Отменить изменение 1 (удаление неработающих)?");
  EXPECT_EQ(DumpClasses(*registry), before);
  EXPECT_EQ(Marks(*form), ".ok .zq* .zr*");
}

}  // namespace
}  // namespace zandrel::testing
