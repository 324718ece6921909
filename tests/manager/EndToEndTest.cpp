#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

class AddListRemove : public ManagerOnEveryRegistry {
 protected:
  void Type(const std::string& ext, const std::string& title, const std::string& program) {
    form->txtFileExt.UserEdited(ext);
    form->txtTitleRef.UserEdited(title);
    form->txtExecutableFileSpec.UserEdited(program);
  }
};

// Through the window's buttons only: the whole classes store ends exactly as
// it was before the add.
TEST_P(AddListRemove, RegistryExactlyAsBefore) {
  SeedAssociation(*registry, ".txt", "txtfile", "edit %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "txtfile\\DefaultIcon", "", REG_SZ, "edit,1");
  const std::string before = DumpClasses(*registry);
  const std::string program = dir.WriteFile("Мои программы/zq viewer.exe", "MZ");

  form->cmdAdd.FireClick();
  platform.DialogNext({program, 0, ""});
  form->cmdDialogFileSpec.FireClick();
  Type("  zq ", " Документ Zq ", form->txtExecutableFileSpec.Text());
  form->cmdProceed.FireClick();
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[1].text, "Просмотр завершен.  Всего  2");
  ASSERT_EQ(form->lvwAsso.Count(), 2u);
  EXPECT_EQ(form->lvwAsso.Items()[0].text, ".txt");
  EXPECT_EQ(form->lvwAsso.Items()[1].text, ".zq");
  EXPECT_EQ(form->lvwAsso.Items()[1].sub1, "Документ Zq");
  EXPECT_EQ(form->lvwAsso.Items()[1].sub2, "\"" + program + "\" \"%1\"");
  EXPECT_NE(DumpClasses(*registry), before);

  form->lvwAsso.UserSelected(1);
  form->cmdDelete.FireClick();
  EXPECT_EQ(form->txtFileExt.Text(), ".zq");
  EXPECT_EQ(form->txtTitleRef.Text(), "Документ Zq");
  platform.ClearRecord();
  platform.AnswerNext(ui::IDYES);
  form->cmdProceed.FireClick();
  ASSERT_EQ(platform.messages.size(), 3u);
  EXPECT_EQ(platform.messages[0].text, "Удаляется расширенние .zq\r\nХотите удалить расширенние и описание?");
  EXPECT_EQ(platform.messages[2].text, "Просмотр завершен.  Всего  1");
  EXPECT_EQ(platform.shellNotifies.size(), 1u);
  EXPECT_EQ(DumpClasses(*registry), before);

  // What was written is what a fresh instance of the store reads back.
  if (auto second = GetParam().reopen(dir.Path())) {
    EXPECT_EQ(DumpClasses(*second), before);
  }
}

// No message box waits while the registry is locked: at every box of a
// failed add and a failed removal no transaction is open, and (for the hive)
// another instance can start one at once.
TEST_P(AddListRemove, NoMessageBoxWhileATransactionIsOpen) {
  const std::string program = dir.WriteFile("p.exe", "MZ");
  std::unique_ptr<IRegistry> second = GetParam().reopen(dir.Path());
  int boxes = 0;
  platform.onMessage = [&](const HeadlessPlatform::Message&) {
    ++boxes;
    EXPECT_FALSE(failing->InTransaction());
    if (second) {
      ASSERT_EQ(second->BeginTransaction(), ERROR_SUCCESS);
      second->RollbackTransaction();
    }
  };
  form->cmdAdd.FireClick();
  Type("zq", "Zq Title", program);
  failing->FailNth(2, ERROR_WRITE_FAULT, Ops(RegOp::SetValue));
  form->cmdProceed.FireClick();
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"Unable to set value of \"" + program + "\" \"%1\" to subkey ",
                                      "Unable to set value to Zq Title\\shell\\open\\command"}));
  EXPECT_EQ(DumpClasses(*registry), "[]\n");

  failing->ClearFailure();
  form->cmdProceed.FireClick();
  form->cmdDelete.FireClick();
  platform.ClearRecord();
  platform.AnswerNext(ui::IDYES);
  failing->FailNth(3, ERROR_ACCESS_DENIED, Ops(RegOp::DeleteKey));
  form->cmdProceed.FireClick();
  EXPECT_EQ(MessageTexts().back(), "Не удалось удалить ассоциацию из реестра .zq");
  EXPECT_GE(boxes, 6);
  EXPECT_TRUE(failing->Injected());
}

INSTANTIATE_TEST_SUITE_P(Registries, AddListRemove, ::testing::ValuesIn(RegistryKinds()),
                         [](const auto& info) { return RegistryKindName(info.param); });

}  // namespace
}  // namespace zandrel::testing
