#include <cstdio>

#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

struct Snapshot {
  int pointer;
  bool progressVisible;
  bool listEnabled, addEnabled, deleteEnabled;
  int doEvents;
  std::size_t rows;
};

class ListCommand : public ManagerOnEveryRegistry {
 protected:
  // The window's state at each message box, as the user sees it then.
  void WatchMessages() {
    platform.onMessage = [this](const HeadlessPlatform::Message&) {
      atMessage.push_back(Snapshot{platform.MousePointer(), form->lblProgress.Visible(), form->cmdList.Enabled(),
                                   form->cmdAdd.Enabled(), form->cmdDelete.Enabled(), platform.doEventsCount,
                                   form->lvwAsso.Count()});
    };
  }
  std::vector<Snapshot> atMessage;
};

TEST_P(ListCommand, FillsTheListAndReportsTheCount) {
  SeedAssociation(*registry, ".b", "B File", "b.exe %1");
  SeedAssociation(*registry, ".a", "A File ", " a.exe %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".nocmd", "", REG_SZ, "Nowhere");
  WatchMessages();
  ASSERT_TRUE(form->cmdList.FireClick());
  ASSERT_EQ(platform.messages.size(), 1u);
  EXPECT_EQ(platform.messages[0].text, "Просмотр завершен.  Всего  2");
  EXPECT_EQ(platform.messages[0].flags, 0);
  EXPECT_EQ(platform.messages[0].title, "Zandrel");
  ASSERT_EQ(platform.sounds.size(), 1u);
  EXPECT_EQ(platform.sounds[0].path, ClickCuePath());
  EXPECT_EQ(platform.sounds[0].flags, ui::SND_ASYNC);
  EXPECT_EQ(platform.doEventsCount, 1);
  EXPECT_EQ(platform.pointerChanges, (std::vector<int>{11, 0}));
  ASSERT_EQ(form->lvwAsso.Count(), 2u);
  EXPECT_EQ(form->lvwAsso.Items()[0].text, ".a");
  EXPECT_EQ(form->lvwAsso.Items()[0].sub1, "A File ");
  EXPECT_EQ(form->lvwAsso.Items()[0].sub2, " a.exe %1");
  EXPECT_EQ(form->lvwAsso.Items()[1].text, ".b");
  EXPECT_EQ(form->lvwAsso.SelectedIndex(), 0);
  ASSERT_EQ(atMessage.size(), 1u);
  EXPECT_EQ(atMessage[0].pointer, 0);
  EXPECT_FALSE(atMessage[0].progressVisible);
  EXPECT_TRUE(atMessage[0].listEnabled && atMessage[0].addEnabled && atMessage[0].deleteEnabled);
  EXPECT_EQ(form->Focused(), &form->lvwAsso);
  EXPECT_TRUE(form->lvwAsso.Visible());
  EXPECT_FALSE(form->lblProgress.Visible());
  EXPECT_TRUE(form->cmdDelete.Enabled());
  EXPECT_TRUE(form->Listing().WalkStopped());  // "Nowhere" has no command key
}

TEST_P(ListCommand, NoExtensionKeysGivesTheFirstNoRowsMessage) {
  SeedAssociation(*registry, "noext", "T", "t %1");
  WatchMessages();
  form->cmdList.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Записей ассациации не обнаруженно"});
  EXPECT_EQ(platform.messages[0].flags, 0);
  EXPECT_EQ(platform.pointerChanges, (std::vector<int>{11, 0}));
  EXPECT_EQ(atMessage[0].pointer, 0);
  EXPECT_TRUE(atMessage[0].listEnabled && atMessage[0].addEnabled);
  EXPECT_FALSE(atMessage[0].deleteEnabled);
  EXPECT_FALSE(atMessage[0].progressVisible);
  EXPECT_EQ(form->Focused(), &form->cbxUpdateList);
}

TEST_P(ListCommand, AllRowsDroppedGivesTheSecondNoRowsMessage) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".x", "", REG_SZ, "No Command");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Blank\\shell\\open\\command", "", REG_SZ, "   ");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".y", "", REG_SZ, "Blank");
  WatchMessages();
  form->cmdList.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Записей для просмотра необнаруженно."});
  EXPECT_EQ(form->lvwAsso.Count(), 0u);
  EXPECT_EQ(form->lvwAsso.SelectedIndex(), -1);
  EXPECT_FALSE(form->cmdDelete.Enabled());
  EXPECT_TRUE(form->cmdList.Enabled());
  EXPECT_EQ(platform.pointerChanges, (std::vector<int>{11, 0}));
  EXPECT_TRUE(form->Listing().WalkStopped());
}

TEST_P(ListCommand, ClassesKeyThatCannotBeOpenedEndsSilentlyAfterTheCue) {
  SeedAssociation(*registry, ".a", "A", "a %1");
  form->lvwAsso.SetVisible(false);
  failing->FailNth(1, ERROR_ACCESS_DENIED, Ops(RegOp::Open));
  form->cmdList.FireClick();
  EXPECT_EQ(platform.sounds.size(), 1u);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_TRUE(platform.pointerChanges.empty());
  EXPECT_EQ(platform.doEventsCount, 0);
  EXPECT_FALSE(form->lvwAsso.Visible());
  EXPECT_TRUE(form->cmdList.Enabled());
  EXPECT_EQ(failing->LogLines(), std::vector<std::string>{"Open SOFTWARE\\Classes -> 5"});
}

TEST_P(ListCommand, MinimizedWindowKeepsTheFocus) {
  SeedAssociation(*registry, ".a", "A", "a %1");
  form->SetMinimized(true);
  form->cmdList.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Просмотр завершен.  Всего  1"});
  EXPECT_EQ(form->Focused(), &form->cbxUpdateList);
}

TEST_P(ListCommand, RelistingReplacesTheRows) {
  SeedAssociation(*registry, ".a", "A", "a %1");
  form->cmdList.FireClick();
  SeedAssociation(*registry, ".b", "B", "b %1");
  form->cmdList.FireClick();
  ASSERT_EQ(form->lvwAsso.Count(), 2u);
  EXPECT_EQ(MessageTexts().back(), "Просмотр завершен.  Всего  2");
  EXPECT_EQ(platform.doEventsCount, 2);
}

INSTANTIATE_TEST_SUITE_P(Registries, ListCommand, ::testing::ValuesIn(RegistryKinds()),
                         [](const auto& info) { return RegistryKindName(info.param); });

TEST_F(ManagerTest, CountMessageFor250Rows) {
  for (int i = 0; i < 250; ++i) {
    const std::string n = std::to_string(i);
    SeedAssociation(*registry, std::string(".e").append(n), std::string("T").append(n), "p %1");
  }
  form->cmdList.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Просмотр завершен.  Всего  250"});
}

// Beyond 32,767 keys and rows: counters are not 16-bit.
TEST_F(ManagerTest, ListsMoreThan32767Rows) {
  const int n = 33000;
  char name[16];
  for (int i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, ".e%05d", i);  // created in enumeration order: quick to seed
    SeedValue(*registry, HKEY_CLASSES_ROOT, name, "", REG_SZ, "Shared");
  }
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Shared\\shell\\open\\command", "", REG_SZ, "s %1");
  form->cmdList.FireClick();
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Просмотр завершен.  Всего  33000"});
  ASSERT_EQ(form->lvwAsso.Count(), static_cast<std::size_t>(n));
  EXPECT_EQ(form->lvwAsso.Items()[n - 1].text, ".e32999");
  EXPECT_EQ(form->lvwAsso.Items()[n - 1].sub2, "s %1");
}

struct EnableRow {
  bool enabled;
  std::size_t rows;
  bool list, add, del;
};

TEST_F(ManagerTest, EnableCommandsSwitchesThreeButtonsDeleteOnlyWithRows) {
  const EnableRow rows[] = {
      {true, 0, true, true, false}, {true, 2, true, true, true}, {false, 0, false, false, false},
      {false, 2, false, false, false}};
  for (const EnableRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.enabled) + " " + std::to_string(row.rows));
    std::vector<ui::ListItem> items(row.rows, ui::ListItem{".a", "A", "a"});
    form->lvwAsso.SetItems(items);
    form->cmdDelete.SetEnabled(!row.del);
    form->EnableCommands(row.enabled);
    EXPECT_EQ(form->cmdList.Enabled(), row.list);
    EXPECT_EQ(form->cmdAdd.Enabled(), row.add);
    EXPECT_EQ(form->cmdDelete.Enabled(), row.del);
    EXPECT_TRUE(form->cmdExit.Enabled());
    EXPECT_TRUE(form->cmdA01.Enabled());
  }
}

}  // namespace
}  // namespace zandrel::testing

namespace zandrel::testing {
namespace {

// A click that arrives while the listing lets waiting messages through runs a
// whole second listing inside the first; both end with the full list.
class ReclickingPlatform : public HeadlessPlatform {
 public:
  void DoEvents() override {
    HeadlessPlatform::DoEvents();
    if (form != nullptr && doEventsCount == 1) form->cmdList.FireClick();
  }
  frmZandrel* form = nullptr;
};

TEST(ListCommandReentry, ClickDuringMessageProcessingListsTwiceWithTheSameRows) {
  TempDir dir;
  WriteManagerPictures(dir);
  ReclickingPlatform platform;
  platform.SetExecutableFolder(dir.Path());
  MemoryRegistry registry;
  SeedAssociation(registry, ".a", "A", "a %1");
  SeedAssociation(registry, ".b", "B", "b %1");
  frmZandrel form(platform, registry, nullptr, nullptr);
  form.Show();
  platform.form = &form;
  form.cmdList.FireClick();
  ASSERT_EQ(platform.messages.size(), 2u);
  EXPECT_EQ(platform.messages[0].text, "Просмотр завершен.  Всего  2");
  EXPECT_EQ(platform.messages[1].text, "Просмотр завершен.  Всего  2");
  EXPECT_EQ(form.lvwAsso.Count(), 2u);
  EXPECT_EQ(platform.MousePointer(), ui::kPointerDefault);
  EXPECT_TRUE(form.cmdDelete.Enabled());
  EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace zandrel::testing
