// The manager window's change of a row's program: the frame it opens, the
// question and its three answers, refusals, and the list after.
#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

void SelectRow(frmZandrel& form, const std::string& extension) {
  for (std::size_t i = 0; i < form.lvwAsso.Count(); ++i)
    if (form.lvwAsso.Items()[i].text == extension) form.lvwAsso.UserSelected(static_cast<long>(i));
}

// A double click and the menu entry open the same frame over the selected
// row: extension and description locked, the program field empty and
// focused; Cancel brings back the list, and the frame's add state.
TEST_F(Manager, ARowsProgramOpensTheFrameFilledAndLocked) {
  Seed();
  EXPECT_EQ(form->lvwAsso.ContextMenu(), (std::vector<std::string>{"Изменить программу…", "Проверить ассоциации"}));
  form->lvwAsso.FireDblClick();  // no row yet: nothing
  EXPECT_EQ(Mode(), "11101111 fraAsso cbxUpdateList");
  form->cmdList.FireClick();
  const std::function<void()> ways[] = {[&] { form->lvwAsso.FireDblClick(); },
                                        [&] { form->lvwAsso.FireContextMenu(0); }};
  for (const auto& open : ways) {
    SelectRow(*form, ".zr");
    form->txtExecutableFileSpec.SetText("left over");
    open();
    EXPECT_EQ(Mode(), "00001110 Изменить txtExecutableFileSpec");
    form->txtFileExt.UserEdited(".other");
    form->txtTitleRef.UserEdited("Other");
    EXPECT_TRUE(form->txtFileExt.Locked() && form->txtTitleRef.Locked());
    EXPECT_EQ(form->txtFileExt.Text() + "|" + form->txtTitleRef.Text() + "|" + form->txtExecutableFileSpec.Text(),
              ".zr|Zr Title|");
    form->lvwAsso.FireDblClick();  // the list is hidden: nothing
    form->cmdCancel.FireClick();
    EXPECT_FALSE(form->txtFileExt.Locked() || form->txtTitleRef.Locked());
    EXPECT_EQ(Mode(), "11111110 Добавить txtExecutableFileSpec");
  }
  EXPECT_EQ(platform.sounds.size(), 3u) << "the list's cue, then one for each opening";
}

// The question names the extension, its old command and the new one, and
// the others sharing its title (Yes/No/Cancel, No by default); Да changes
// them all, Нет gives the extension a title of its own, Отмена and an
// unshared Нет change nothing. Committed: the closing message, the desktop
// told, the list again showing the new command, the change named in the
// history; the frame is back in its add state. A refusal (each one's text is
// ProgramChangeTest's) shows as the add's errors do and keeps the frame; one
// that got as far as writing is still told.
TEST_F(Manager, TheQuestionAndItsAnswers) {
  const std::string command = "\"" + program + "\" \"%1\"";
  const std::string icon = "\r\nЗначок: записан \"" + program + "\",0 (прежнего не было).";
  const std::string zr =
      "Расширение .zr будет открываться другой программой.\r\nБыло: zr %1\r\nСтанет: {C}\r\nИзменить?";
  const std::string zq =
      "Расширение .zq будет открываться другой программой.\r\nБыло: zq %1\r\nСтанет: {C}\r\nОписание Zq Title общее: "
      "той же программой станут открываться и .zs.\r\nДа — изменить для всех, Нет — только для .zq (у него будет "
      "своё описание), Отмена — ничего не менять.";
  const std::string unchanged = ".zq|Zq Title|zq %1 .zr|Zr Title|zr %1 .zs|Zq Title|zq %1";
  const std::string listed = "0 Просмотр завершен.  Всего  3";
  const std::string inFrame = "00001110 Изменить txtExecutableFileSpec";
  const struct {
    const char* extension;
    int answer;
    std::vector<std::string> boxes;  // flags and text
    std::string mode, rows;
    std::vector<std::string> told;  // the desktop's committed changes
    std::string typed = "{P}";      // the program field
    std::uint32_t fails = 0;        // the registry call that fails with ERROR_WRITE_FAULT, or none
    std::size_t toldAny = told.size();
  } rows[] = {
      // clang-format off
      {".zr", IDYES,
       {"36 " + zr, "0 Всё прошло успешно.\r\nРасширение .zr: команда zr %1 заменена на {C}." + icon, listed},
       "11111110 Добавить lvwAsso", ".zq|Zq Title|zq %1 .zr|Zr Title|{C} .zs|Zq Title|zq %1", {".zr"}},
      {".zr", IDNO, {"36 " + zr}, inFrame, unchanged, {}},
      {".zq", IDYES,
       {"291 " + zq, "0 Всё прошло успешно.\r\nРасширение .zq: команда zq %1 заменена на {C}." + icon +
                     "\r\nОписание Zq Title общее: той же командой теперь открываются и .zs.", listed},
       "11111110 Добавить lvwAsso", ".zq|Zq Title|{C} .zr|Zr Title|zr %1 .zs|Zq Title|{C}", {""}},
      {".zq", IDNO,
       {"291 " + zq, "0 Всё прошло успешно.\r\nРасширение .zq: команда zq %1 заменена на {C}." + icon +
                     "\r\nДля него сделано своё описание Zq Title.zq — копия описания Zq Title, которое остаётся у "
                     ".zs.",
        listed},
       "11111110 Добавить lvwAsso", ".zq|Zq Title.zq|{C} .zr|Zr Title|zr %1 .zs|Zq Title|zq %1", {".zq"}},
      {".zq", IDCANCEL, {"291 " + zq}, inFrame, unchanged, {}},
      {".zr", IDYES, {"0 Не тормози!Выбери программу для ассациации."}, inFrame, unchanged, {}, ""},
      {".zr", IDYES, {"36 " + zr, "0 Программа расширения .zr не изменена (ошибка реестра 29). Ничего не изменено."},
       inFrame, unchanged, {}, "{P}", Commit, 1},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.extension) + " " + std::to_string(row.answer) + " " + row.typed);
    TempDir hive;
    std::unique_ptr<IRegistry> store = MakeRegistry(hive.Path());
    SeedAssociation(*store, ".zq", "Zq Title", "zq %1");
    SeedAssociation(*store, ".zr", "Zr Title", "zr %1");
    SeedValue(*store, ".zs", "", REG_SZ, "Zq Title");
    FailingRegistry failing(*store);
    capture::HistoryRegistry history(failing);
    RecordingDesktop told(history);
    frmZandrel window(
        platform, history, [] {}, [] {}, &history, &told);
    window.Show();
    window.cmdList.FireClick();
    SelectRow(window, row.extension);
    window.lvwAsso.FireDblClick();
    window.txtExecutableFileSpec.UserEdited(Replace(row.typed, "{P}", program));
    const std::string before = DumpClasses(*store);
    platform.ClearRecord();
    platform.AnswerNext(row.answer);
    if (row.fails != 0) failing.FailNth(1, ERROR_WRITE_FAULT, row.fails);
    window.cmdProceed.FireClick();
    failing.FailNth(0, 0);
    std::vector<std::string> boxes, expected;
    for (const auto& m : platform.messages) boxes.push_back(std::to_string(m.flags) + " " + m.text);
    for (const std::string& box : row.boxes) expected.push_back(Replace(box, "{C}", command));
    EXPECT_EQ(boxes, expected);
    EXPECT_EQ(Mode(&window), row.mode);
    EXPECT_FALSE(window.txtFileExt.Locked() != (row.mode == inFrame));
    EXPECT_EQ(told.Committed(), row.told);
    EXPECT_EQ(told.changes.size(), row.toldAny);
    const ui::ListItem* selected = window.lvwAsso.SelectedItem();
    if (row.told.empty()) {
      EXPECT_EQ(DumpClasses(*store), before);
    } else {
      ASSERT_NE(selected, nullptr);
      EXPECT_EQ(selected->text + " " + selected->Cell(2), row.extension + (" " + command)) << "the row changed";
    }
    window.cmdCancel.FireClick();
    window.cmdList.FireClick();
    std::string shown;
    for (const ui::ListItem& item : window.lvwAsso.Items())
      shown += (shown.empty() ? "" : " ") + item.Cell(0) + "|" + item.Cell(1) + "|" + item.Cell(2);
    EXPECT_EQ(shown, Replace(row.rows, "{C}", command));
    platform.ClearRecord();
    window.FireKey(ui::Key::CtrlZ);  // answered No: the question names the newest change
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(std::regex_replace(platform.messages[0].text, std::regex(", [-0-9]+ [:0-9]+\\)"), ")"),
              row.told.empty() ? "Нет изменений, которые можно отменить."
                               : "Отменить изменение 1 (смена программы " + std::string(row.extension) + ")?");
    window.Close();
  }
}

}  // namespace
}  // namespace zandrel::testing
