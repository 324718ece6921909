// The manager window's change commands and undo: their effects on the
// window, and the desktop told after each change.
#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

TEST_F(Manager, ChangesThroughTheWindow) {
  Seed();
  form->cmdAdd.FireClick();
  for (const char* caption : {"добавить", "Добавить ", "", "Удалить."}) {  // proceed acts on the caption exactly
    form->fraAsso.SetCaption(caption);
    form->cmdProceed.FireClick();
  }
  EXPECT_TRUE(platform.messages.empty() && failing.log.empty());
  form->fraAsso.SetCaption("Добавить");
  Type("new", "New Title", program);
  form->cbxUpdateList.FireClick();  // unticked: the window stays in add mode
  // Where Windows keeps a choice for the user, the window offers its page.
  const std::string choice = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.new\\UserChoice";
  SeedValue(*registry, choice, "ProgId", REG_SZ, "Applications\\viewer.exe", HKEY_CURRENT_USER);
  SeedValue(*registry, choice, "Hash", REG_SZ, "h=", HKEY_CURRENT_USER);
  platform.AnswerNext(IDOK);
  platform.AnswerNext(IDYES);
  form->cmdProceed.FireClick();
  EXPECT_EQ(Texts().size(), 2u) << "the change's message, then the offer (its text: WindowsDesktopTest)";
  EXPECT_EQ(platform.shellOpened, std::vector<std::string>{"ms-settings:defaultapps"});
  ASSERT_EQ(registry->RegDeleteKeyA(HKEY_CURRENT_USER, choice.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Mode(), "00001110 Добавить txtFileExt");
  EXPECT_EQ(desktop.CommittedAt(), std::vector<std::size_t>{2});
  form->cbxUpdateList.FireClick();
  Type("new2", "New Title 2", program);
  platform.ClearRecord();
  // A desktop that cannot follow: its text after the change's own, then the reload's.
  desktop.failure = "the desktop's failure";
  form->cmdProceed.FireClick();  // ticked: the list is reloaded and shown
  ASSERT_EQ(Texts().size(), 3u);
  EXPECT_EQ(Texts()[1], "the desktop's failure");
  EXPECT_EQ(platform.messages[1].flags, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(Texts()[2], "Просмотр завершен.  Всего  4");
  desktop.failure = "";
  EXPECT_EQ(Mode(), "11111110 Добавить lvwAsso");
  ASSERT_EQ(desktop.changes.size(), 2u) << "an add tells the desktop once";
  EXPECT_EQ(form->lvwAsso.Items()[0].Cell(2), "\"" + program + "\" \"%1\"");
  // A removal tells the desktop once, before the reload's message; it removes
  // the extension as the field holds it, whatever row was chosen.
  form->lvwAsso.UserSelected(1);
  form->cmdDelete.FireClick();
  form->txtFileExt.UserEdited(".new");
  form->txtTitleRef.UserEdited("New Title");
  platform.ClearRecord();
  platform.AnswerNext(IDYES);
  form->cmdProceed.FireClick();
  EXPECT_EQ(Texts()[2], "Просмотр завершен.  Всего  3");
  ASSERT_EQ(desktop.changes.size(), 3u);
  EXPECT_EQ(Mode(), "11110001 Удалить lvwAsso");
  EXPECT_EQ(desktop.CommittedAt(), (std::vector<std::size_t>{2, 1, 2}))
      << "after the change's message, before the reload's";
  EXPECT_EQ(desktop.Committed(), (std::vector<std::string>{"new", "new2", ".new"}))
      << "the extension as the field holds it";
  // A failed removal stays in remove mode and still tells the desktop (the
  // shell hears of a change that got as far as writing).
  form->cmdDelete.FireClick();
  platform.ClearRecord();
  failing.FailNth(1, ERROR_WRITE_FAULT, DeleteKey);
  platform.AnswerNext(IDYES);
  form->cmdProceed.FireClick();
  EXPECT_EQ(Texts().back(), "Не удалось удалить ассоциацию из реестра .new2");
  ASSERT_EQ(desktop.changes.size(), 4u);
  EXPECT_FALSE(desktop.changes.back().committed);
  EXPECT_EQ(desktop.Committed().size(), 3u) << "nothing committed, nothing for the desktop's files";
  EXPECT_EQ(Mode(), "00000001 Удалить txtFileExt");
}

// Ctrl+Z and the list's first menu entry ask the same question about the
// newest change (only in list mode); Yes undoes it, then the list, the
// desktop and the shell follow as after a removal. Ctrl+Y and the second
// entry ask about the newest undo, and undo it the same way.
TEST_F(Manager, UndoOfTheNewestChange) {
  capture::HistoryRegistry history(*registry);
  Reopen(history);
  EXPECT_EQ(form->lvwAsso.ContextMenu(),
            (std::vector<std::string>{"Отменить последнее изменение", "Вернуть отменённое изменение",
                                      "Изменить программу…", "Проверить ассоциации"}));
  form->FireKey(ui::Key::CtrlZ);
  form->FireKey(ui::Key::CtrlY);
  form->cmdAdd.FireClick();
  Type(".new", "New Title", program);
  form->FireKey(ui::Key::CtrlZ);  // add mode: the frame's own buttons end it
  form->cmdProceed.FireClick();
  ASSERT_EQ(Texts().size(), 4u);
  EXPECT_EQ(Texts()[0], "Нет изменений, которые можно отменить.");
  EXPECT_EQ(Texts()[1], "Нет отменённых изменений, которые можно вернуть.");
  desktop.changes.clear();
  platform.ClearRecord();
  platform.AnswerNext(IDNO);
  form->FireKey(ui::Key::CtrlZ);
  platform.AnswerNext(IDYES);
  form->lvwAsso.FireContextMenu(0);
  platform.AnswerNext(IDYES);
  form->FireKey(ui::Key::CtrlY);
  platform.AnswerNext(IDYES);
  form->lvwAsso.FireContextMenu(1);
  std::vector<std::string> texts;
  for (const auto& m : platform.messages)
    texts.push_back(std::to_string(m.flags) + " " +
                    std::regex_replace(m.text, std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"), "{T}"));
  const std::string question = "36 Отменить изменение 1 (добавление .new, {T})?";
  EXPECT_EQ(texts,
            (std::vector<std::string>{
                question, question,
                "0 Изменение 1 (добавление .new) отменено, ключей: 6. Отмена сохранена в истории как изменение 2.",
                "0 Записей ассациации не обнаруженно", "36 Отменить изменение 2 (отмена изменения 1, {T})?",
                "0 Изменение 2 (отмена изменения 1) отменено, ключей: 6. Отмена сохранена в истории как "
                "изменение 3.",
                "0 Просмотр завершен.  Всего  1", "0 Нет отменённых изменений, которые можно вернуть."}));
  EXPECT_EQ(desktop.Committed(), (std::vector<std::string>{".new", ".new"})) << "told the undone change's extension";
  EXPECT_EQ(desktop.changes.size(), 2u);
  EXPECT_EQ(Mode(), "11111110 Добавить lvwAsso");
}

// A registry as slow as Windows's under Wine: each key deleted takes
// kMsPerKey on the test's clock.
class SlowDeletes : public CallsOnly {
 public:
  static constexpr int kMsPerKey = 10;
  SlowDeletes(IRegistry& target, Platform& platform) : CallsOnly(target), platform_(platform) {}
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override {
    platform_.AdvanceTime(kMsPerKey);
    return Target().RegDeleteKeyA(hKey, lpSubKey);
  }

 private:
  Platform& platform_;
};

// An undo that lasts shows, after half a second and then every fifth of a
// second, how far it is in the window's caption, each time with the windows
// redrawn and no other undo started (Ctrl+Z and the menu meanwhile do
// nothing); the caption comes back, then all goes on as after any undo. A
// short undo shows nothing.
TEST_F(Manager, ALongUndoShowsHowFarItIs) {
  const struct {
    int keys;  // the import's: .zbulk and its subkeys
    std::vector<std::string> captions;
  } rows[] = {
      {40, {}},
      {100,
       {"Отмена изменения 1: ключей 50 из 100…", "Отмена изменения 1: ключей 70 из 100…",
        "Отмена изменения 1: ключей 90 из 100…"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.keys);
    TempDir hive;
    std::unique_ptr<IRegistry> store = MakeRegistry(hive.Path());
    SeedAssociation(*store, ".zq", "Zq Title", "zq %1");
    SlowDeletes slow(*store, platform);
    capture::HistoryRegistry history(slow);
    std::string reg = "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.zbulk]\r\n@=\"Bulk Title\"\r\n";
    for (int i = 1; i < row.keys; ++i) reg += "\r\n[HKEY_CLASSES_ROOT\\.zbulk\\k" + std::to_string(i) + "]\r\n";
    const std::string file = dir.Write("bulk.reg", reg);
    history.Describe("import", "bulk.reg");
    ASSERT_TRUE(regfile::ImportRegFile(history, file).Ok());
    frmZandrel window(
        platform, history, [] {}, [] {}, &history);
    window.Show();
    platform.ClearRecord();
    std::vector<std::string> captions;
    platform.onPaintEvents = [&] {
      captions.push_back(window.Caption());
      window.FireKey(ui::Key::CtrlZ);
      window.lvwAsso.FireContextMenu(0);
    };
    platform.AnswerNext(IDYES);
    window.FireKey(ui::Key::CtrlZ);
    platform.onPaintEvents = nullptr;
    EXPECT_EQ(captions, row.captions);
    EXPECT_EQ(platform.paintEventsCount, static_cast<int>(row.captions.size()));
    EXPECT_EQ(window.Caption(), "Orvanta");
    const std::vector<std::string> texts = Texts();  // the question, the result, the list
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[1].find("ключей: " + std::to_string(row.keys) + "."), std::string::npos) << texts[1];
    ASSERT_EQ(window.lvwAsso.Count(), 1u);
    EXPECT_EQ(window.lvwAsso.Items()[0].text, ".zq");
    EXPECT_EQ(Mode(&window), "11111111 fraAsso lvwAsso");
    window.Close();
  }
}

// An undo refused because another copy holds the lock past its wait (170),
// or for want of an administrator's rights (5): the undo's own message, then
// why. On Linux 5 names no administrator. (An add's and a removal's are
// ChangeFailuresTest's, EachFailingStepShowsItsMessagesAndChangesNothing.)
TEST_F(Manager, AnUndoRefusedForTheLockOrForRightsSaysWhy) {
  Seed();
  capture::HistoryRegistry history(failing);
  Reopen(history);
#ifdef _WIN32
  const std::string rights =
      " Для изменения ассоциаций нужны права администратора. Запустите Zandrel от имени администратора.";
#else
  const std::string rights;
#endif
  const struct {
    LONG code;
    std::uint32_t ops;
    std::string text;
  } rows[] = {
      {ERROR_BUSY, Begin,
       "Изменение 1 не отменено (ошибка реестра 170). Ничего не изменено. Ассоциации сейчас изменяет другая копия "
       "Zandrel. Повторите попытку позже."},
      {ERROR_ACCESS_DENIED, Create, "Изменение 1 не отменено (ошибка реестра 5). Ничего не изменено." + rights},
      {ERROR_ACCESS_DENIED, Open, "История изменений не читается (ошибка реестра 5)." + rights},
  };
  // A change to undo: .zqm added.
  form->cmdAdd.FireClick();
  Type(".zqm", "Zqm Title", program);
  form->cmdProceed.FireClick();
  ASSERT_EQ(Texts()[0].rfind("Всё прошло успешно.", 0), 0u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const std::string before = DumpClasses(*registry);
    form->cmdCancel.FireClick();
    form->cmdList.FireClick();  // list mode, where every command starts
    platform.ClearRecord();
    failing.FailNth(1, row.code, row.ops);
    platform.AnswerNext(IDYES);
    form->FireKey(ui::Key::CtrlZ);
    EXPECT_EQ(Texts().back(), row.text);
    EXPECT_EQ(Texts().size(), row.ops == Open ? 1u : 2u) << "the question, when the history reads";
    EXPECT_EQ(DumpClasses(*registry), before);
    failing.FailNth(0, 0);
  }
}

}  // namespace
}  // namespace zandrel::testing
