#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

struct ModeState {
  bool listVisible;
  bool commands;  // cmdList and cmdAdd
  bool del;
  bool programShown;  // lblExecutableFileSpec, txtExecutableFileSpec, cmdDialogFileSpec
  bool remarksShown;
  std::string caption;
};

class Modes : public ManagerTest {
 protected:
  void ExpectMode(const ModeState& s) {
    EXPECT_EQ(form->lvwAsso.Visible(), s.listVisible);
    EXPECT_EQ(form->cmdList.Enabled(), s.commands);
    EXPECT_EQ(form->cmdAdd.Enabled(), s.commands);
    EXPECT_EQ(form->cmdDelete.Enabled(), s.del);
    EXPECT_TRUE(form->cmdExit.Enabled());
    EXPECT_TRUE(form->cmdA01.Enabled());
    EXPECT_EQ(form->lblExecutableFileSpec.Visible(), s.programShown);
    EXPECT_EQ(form->txtExecutableFileSpec.Visible(), s.programShown);
    EXPECT_EQ(form->cmdDialogFileSpec.Visible(), s.programShown);
    EXPECT_EQ(form->lblRemarksForTitleDelete.Visible(), s.remarksShown);
    for (const ui::Control* c : std::initializer_list<const ui::Control*>{
             &form->cbxUpdateList, &form->lblFileExt, &form->txtFileExt, &form->lblTitleRef, &form->txtTitleRef,
             &form->cmdProceed, &form->cmdCancel})
      EXPECT_TRUE(c->Visible()) << c->Name();
    EXPECT_EQ(form->fraAsso.Caption(), s.caption);
  }
  void List() {
    SeedAssociation(*registry, ".zq", "Zq Title", "zq %1");
    SeedAssociation(*registry, ".zr", "Zr Title", "zr %1");
    form->cmdList.FireClick();
    platform.ClearRecord();
  }
};

TEST_F(Modes, AddModeAndBackWithTextsKept) {
  form->txtFileExt.UserEdited("typed");
  form->txtExecutableFileSpec.UserEdited("/bin/prog");
  ASSERT_TRUE(form->cmdAdd.FireClick());
  ExpectMode({false, false, false, true, false, "Добавить"});
  EXPECT_EQ(form->Focused(), &form->txtFileExt);
  EXPECT_EQ(platform.sounds.size(), 1u);
  EXPECT_EQ(form->txtFileExt.Text(), "typed");
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/bin/prog");
  EXPECT_FALSE(form->cmdList.FireClick());  // disabled in add mode
  ASSERT_TRUE(form->cmdCancel.FireClick());
  ExpectMode({true, true, false, true, false, "Добавить"});
  EXPECT_EQ(platform.sounds.size(), 1u);  // cancel is silent
  EXPECT_EQ(form->txtFileExt.Text(), "typed");
  EXPECT_TRUE(platform.messages.empty());
}

TEST_F(Modes, RemoveModeFillsTheFieldsFromTheSelectedRow) {
  List();
  form->txtExecutableFileSpec.UserEdited("/bin/prog");
  form->lvwAsso.UserSelected(1);
  ASSERT_TRUE(form->cmdDelete.FireClick());
  ExpectMode({false, false, false, false, true, "Удалить"});
  EXPECT_EQ(form->txtFileExt.Text(), ".zr");
  EXPECT_EQ(form->txtTitleRef.Text(), "Zr Title");
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/bin/prog");
  EXPECT_EQ(form->Focused(), &form->txtFileExt);
  EXPECT_EQ(platform.sounds.size(), 1u);
  // Back, then add mode shows what remove mode put into the fields.
  form->cmdCancel.FireClick();
  ExpectMode({true, true, true, false, true, "Удалить"});
  EXPECT_EQ(form->lvwAsso.Count(), 2u);
  form->cmdAdd.FireClick();
  ExpectMode({false, false, false, true, false, "Добавить"});
  EXPECT_EQ(form->txtFileExt.Text(), ".zr");
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/bin/prog");
}

TEST_F(Modes, RemoveModeWithoutASelectedRowKeepsTheTexts) {
  List();
  form->txtFileExt.UserEdited("mine");
  form->txtTitleRef.UserEdited("My Title");
  form->lvwAsso.UserSelected(-1);
  form->cmdDelete.FireClick();
  ExpectMode({false, false, false, false, true, "Удалить"});
  EXPECT_EQ(form->txtFileExt.Text(), "mine");
  EXPECT_EQ(form->txtTitleRef.Text(), "My Title");
  // The question then names the extension field.
  form->cmdProceed.FireClick();
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, "Удаляется расширенние .mine\r\nХотите удалить расширенние и описание?");
  EXPECT_EQ(platform.messages[0].flags, 0x24);
  EXPECT_TRUE(platform.shellNotifies.empty());
}

// An extension edited after choosing a row: the question names the keys that
// would go, the field's, not the row's.
TEST_F(Modes, RemovalQuestionNamesTheEditedExtension) {
  List();
  form->lvwAsso.UserSelected(1);
  form->cmdDelete.FireClick();
  form->txtFileExt.UserEdited("zq");
  platform.AnswerNext(ui::IDNO);
  form->cmdProceed.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Удаляется расширенние .zq\r\nХотите удалить расширенние и описание?"});
}

TEST_F(Modes, ProceedActsOnTheCaptionExactly) {
  form->cmdAdd.FireClick();
  for (const char* caption : {"добавить", "Добавить ", "fraAsso", "", "Удалить."}) {
    SCOPED_TRACE(caption);
    form->fraAsso.SetCaption(caption);
    failing->log.clear();
    form->cmdProceed.FireClick();
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(failing->log.empty());
  }
  form->fraAsso.SetCaption("Добавить");
  form->cmdProceed.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Введите имя расширенния"});
  EXPECT_EQ(platform.sounds.size(), 1u);  // proceed is silent
}

TEST_F(Modes, AddWithUpdateTickedReloadsAndReturnsToListMode) {
  const std::string program = dir.WriteFile("bin/prog.exe", "MZ");
  form->cmdAdd.FireClick();
  form->txtFileExt.UserEdited("zq");
  form->txtTitleRef.UserEdited("Zq Title");
  form->txtExecutableFileSpec.UserEdited(program);
  form->cmdProceed.FireClick();
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_TRUE(platform.messages[0].text.starts_with("Всё прошло успешно.\r\n\r\nЧто увидеть"));
  EXPECT_EQ(platform.messages[1].text, "Просмотр завершен.  Всего  1");
  ExpectMode({true, true, true, true, false, "Добавить"});
  EXPECT_EQ(form->lvwAsso.Items()[0].sub2, "\"" + program + "\" \"%1\"");
  EXPECT_TRUE(platform.shellNotifies.empty());  // the writer does not tell the shell
  EXPECT_EQ(desktopSyncs, std::vector<std::size_t>{1}) << "after the commit's message, before the reload";
  EXPECT_EQ(form->txtFileExt.Text(), "zq");
}

TEST_F(Modes, AddWithUpdateUntickedStaysInAddMode) {
  const std::string program = dir.WriteFile("bin/prog.exe", "MZ");
  form->cmdAdd.FireClick();
  form->cbxUpdateList.FireClick();
  ASSERT_EQ(form->cbxUpdateList.Value(), 0);
  form->txtFileExt.UserEdited("zq");
  form->txtTitleRef.UserEdited("Zq Title");
  form->txtExecutableFileSpec.UserEdited(program);
  form->cmdProceed.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Всё прошло успешно."});
  EXPECT_EQ(desktopSyncs, std::vector<std::size_t>{1});
  ExpectMode({false, false, false, true, false, "Добавить"});
  EXPECT_EQ(form->lvwAsso.Count(), 0u);
}

TEST_F(Modes, RemoveNotifiesTheShellAfterTheReload) {
  List();
  form->cmdDelete.FireClick();
  platform.AnswerNext(ui::IDYES);
  std::vector<std::size_t> notifiesAtMessage;
  platform.onMessage = [&](const HeadlessPlatform::Message&) { notifiesAtMessage.push_back(platform.shellNotifies.size()); };
  form->cmdProceed.FireClick();
  ASSERT_EQ(platform.messages.size(), 3u);
  EXPECT_EQ(platform.messages[0].text, "Удаляется расширенние .zq\r\nХотите удалить расширенние и описание?");
  EXPECT_TRUE(platform.messages[1].text.starts_with("Из реестра удаленно расширенние .zq\r\n\r\nЧто увидеть"));
  EXPECT_EQ(platform.messages[2].text, "Просмотр завершен.  Всего  1");
  EXPECT_EQ(notifiesAtMessage, (std::vector<std::size_t>{0, 0, 0}));
  EXPECT_EQ(desktopSyncs, std::vector<std::size_t>{2});
  ASSERT_EQ(platform.shellNotifies.size(), 1u);
  EXPECT_EQ(platform.shellNotifies[0].eventId, 0x08000000);
  EXPECT_EQ(platform.shellNotifies[0].flags, 0u);
  EXPECT_EQ(platform.shellNotifies[0].item1, 0);
  EXPECT_EQ(platform.shellNotifies[0].item2, 0);
  ExpectMode({true, true, true, false, true, "Удалить"});
}

TEST_F(Modes, RemoveFailureStaysInRemoveModeAndNotifies) {
  List();
  form->cmdDelete.FireClick();
  failing->FailNth(1, ERROR_ACCESS_DENIED, Ops(RegOp::DeleteKey));
  platform.AnswerNext(ui::IDYES);
  form->cmdProceed.FireClick();
  EXPECT_EQ(MessageTexts().back(), "Не удалось удалить ассоциацию из реестра .zq");
  EXPECT_EQ(platform.shellNotifies.size(), 1u);
  EXPECT_TRUE(desktopSyncs.empty()) << "nothing was committed";
  ExpectMode({false, false, false, false, true, "Удалить"});
}

TEST_F(Modes, AboutAndExitPlayTheCueFirstInEveryMode) {
  form->cmdA01.FireClick();
  form->cmdAdd.FireClick();
  form->cmdExit.FireClick();
  form->cmdA01.FireClick();
  EXPECT_EQ(about, (std::vector<std::size_t>{1, 4}));
  EXPECT_EQ(exits, (std::vector<std::size_t>{3}));
  for (const auto& s : platform.sounds) EXPECT_EQ(s.path, ClickCuePath());
}

TEST_F(Modes, BrowseSetsTheDialogAndTakesTheChosenFile) {
  form->cmdAdd.FireClick();
  form->txtExecutableFileSpec.UserEdited("/old");
  form->CommonDialog1.FileName = "/left/over";
  platform.DialogNext({"/usr/bin/chosen prog.exe", 0, ""});
  ASSERT_TRUE(form->cmdDialogFileSpec.FireClick());
  ASSERT_EQ(platform.dialogs.size(), 1u);
  const auto& d = platform.dialogs[0];
  EXPECT_EQ(d.filter, "(*.exe)|*.exe|(*.com)|*.com|(*.*)|*.*|");
  EXPECT_EQ(d.filterIndex, 1);
  EXPECT_EQ(d.defaultExt, "exe");
  EXPECT_EQ(d.flags, 4096);
  EXPECT_EQ(d.fileName, "");
  EXPECT_TRUE(d.cancelError);
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/usr/bin/chosen prog.exe");
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(platform.sounds.size(), 1u);  // browse is silent
}

TEST_F(Modes, BrowseCancelledOrEmptyChangesNothing) {
  form->cmdAdd.FireClick();
  form->txtExecutableFileSpec.UserEdited("/old");
  platform.DialogNext({"", ui::kCancelErrorNumber, "Cancel was selected."});
  form->cmdDialogFileSpec.FireClick();
  platform.DialogNext({"", 0, ""});
  form->cmdDialogFileSpec.FireClick();
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/old");
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_FALSE(platform.fatalError.has_value());
}

TEST_F(Modes, BrowseFailedReportsThroughShowErrorMessage) {
  form->cmdAdd.FireClick();
  form->txtExecutableFileSpec.UserEdited("/old");
  platform.DialogNext({"", 20476, "FileName buffer too small"});
  platform.DialogNext({"", -2147467259, "Unspecified error"});
  form->cmdDialogFileSpec.FireClick();
  form->cmdDialogFileSpec.FireClick();
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[0].text, "cmdDialogFileSpec_Click\r\n20476     FileName buffer too small");
  EXPECT_EQ(platform.messages[1].text, "cmdDialogFileSpec_Click\r\n-2147467259     Unspecified error");
  for (const auto& m : platform.messages) {
    EXPECT_EQ(m.flags, 0);
    EXPECT_EQ(m.title, "Zandrel");
  }
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/old");
  EXPECT_FALSE(platform.fatalError.has_value());
}

}  // namespace
}  // namespace zandrel::testing
