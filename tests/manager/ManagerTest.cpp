// The manager window on the headless controls over the registry the program
// ships: its states after load and in each mode, the list command, browsing,
// and the cues.
#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

// Every caption and tooltip of the window, as the user reads them (the
// spellings are the program's own), in the order the controls were made.
TEST_F(Manager, TheWindowsWords) {
  const std::vector<std::string> expected = {
      "frmZandrel|Orvanta|",
      "fraAsso|fraAsso|",
      "lblProgress|Загрузка данных....|",
      "cbxUpdateList|Показать изменнения |"
      "Поставьте здесь галочку, чтобы увидеть изменнения в списке сразу после вашего глумленния.",
      "lblTitleRef|Описание|",
      "lblFileExt|Расширенние|",
      "lblRemarksForTitleDelete|WARNING: Не удаляйте если не уверены, что другие расширенния используют тоже описание.|",
      "lblExecutableFileSpec|Путь к программе с которой в хотите провести ассоциацию выбранного вами расширенния:|",
      "cmdDialogFileSpec|...|Выберети программу",
      "cmdProceed|Применить|",
      "cmdCancel|Отмена|",
  };
  std::vector<std::string> words = {"frmZandrel|" + form->Caption() + "|"};
  for (const ui::Control* c : form->Controls()) {
    std::string caption;
    if (const auto* label = dynamic_cast<const ui::Label*>(c)) caption = label->Caption();
    if (const auto* button = dynamic_cast<const ui::Button*>(c)) caption = button->Caption();
    if (const auto* box = dynamic_cast<const ui::CheckBox*>(c)) caption = box->Caption();
    if (const auto* frame = dynamic_cast<const ui::Frame*>(c)) caption = frame->Caption();
    if (!caption.empty() || !c->ToolTip().empty()) words.push_back(c->Name() + "|" + caption + "|" + c->ToolTip());
  }
  EXPECT_EQ(words, expected);
}

TEST_F(Manager, StateAfterLoad) {
  EXPECT_EQ(Mode(), "11101111 fraAsso cbxUpdateList");
  EXPECT_FALSE(form->lblProgress.Visible());
  EXPECT_EQ(form->cbxUpdateList.Value(), 1);
  const ui::ListView& list = form->lvwAsso;
  EXPECT_TRUE(list.ManualLabelEdit() && list.FullRowSelect() && list.ReportView());
  EXPECT_FALSE(list.HideSelection() || list.HideColumnHeaders());
  std::vector<std::string> order, expected, headers;
  for (const auto& column : list.Columns()) headers.push_back(column.text);
  EXPECT_EQ(headers, (std::vector<std::string>{"Расширение", "Описание", "Ассоциация"}));
  for (const ui::Control* c : form->TabOrder()) order.push_back(c->Name());
  EXPECT_EQ(order, (std::vector<std::string>{"cbxUpdateList", "cmdCancel", "cmdProceed", "txtTitleRef", "txtFileExt",
                                             "cmdDialogFileSpec", "txtExecutableFileSpec", "cmdAdd", "cmdExit",
                                             "cmdList", "lvwAsso", "cmdA01"}));
  // Each button's normal picture is read twice (normal and disabled), then the pressed one.
  for (const char* pair : {"k01", "k03", "k02", "k04"})
    for (const char* suffix : {"-1.g", "-1.g", "-2.g"}) expected.push_back(dir.File("Pic/") + pair + suffix);
  for (const char* f : {"Abt1.g", "Abt1.g", "Abt2.g"}) expected.push_back(dir.File("Pic/") + f);
  EXPECT_EQ(platform.picturesLoaded, expected);
  EXPECT_NE(form->cmdList.Picture(), form->cmdList.DisabledPicture());
  EXPECT_EQ(form->cmdDelete.DownPicture()->source, dir.File("Pic/k02-2.g"));
  ASSERT_NE(form->Icon(), nullptr);
  EXPECT_EQ(form->Icon()->widthPx, 32);
  EXPECT_TRUE(platform.messages.empty() && platform.sounds.empty());
  // Resizing: the list fills the client area below its top, 150 at least;
  // column 3 takes what the other two leave, less a margin of 200.
  const float top = list.Top();
  form->lvwAsso.UserResizedColumn(0, 1900.5f);
  form->SetClientSize(6000.0f, top + 149.0f);
  form->Form_Resize();
  EXPECT_EQ(list.Geometry(), (ui::Rect{0, top, 6000, 150}));
  EXPECT_EQ(list.Columns()[0].width + list.Columns()[1].width + list.Columns()[2].width + 200.0f, form->OuterWidth());
  form->SetClientSize(6000.0f, top + 151.0f);
  form->Form_Resize();
  EXPECT_EQ(list.Geometry(), (ui::Rect{0, top, 6000, 151}));
}

TEST_F(Manager, ModesAsTheUserMovesBetweenThem) {
  Seed();
  const struct {
    const char* action;
    std::string mode, ext, title;  // the fields after the action
  } rows[] = {
      {"type", "11101111 fraAsso cbxUpdateList", "typed", "Typed"},
      {"add", "00001110 Добавить txtFileExt", "typed", "Typed"},
      {"list", "00001110 Добавить txtFileExt", "typed", "Typed"},  // disabled in add mode
      {"cancel", "11101110 Добавить txtFileExt", "typed", "Typed"},
      {"list", "11111110 Добавить lvwAsso", "typed", "Typed"},
      {"select 1", "11111110 Добавить lvwAsso", "typed", "Typed"},
      {"delete", "00000001 Удалить txtFileExt", ".zr", "Zr Title"},
      {"cancel", "11110001 Удалить txtFileExt", ".zr", "Zr Title"},
      {"add", "00001110 Добавить txtFileExt", ".zr", "Zr Title"},
      {"cancel", "11111110 Добавить txtFileExt", ".zr", "Zr Title"},
      {"select -1", "11111110 Добавить txtFileExt", ".zr", "Zr Title"},
      {"type", "11111110 Добавить txtFileExt", "typed", "Typed"},
      {"delete", "00000001 Удалить txtFileExt", "typed", "Typed"},  // no row selected: the fields stay
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.action);
    const std::string action = row.action;
    if (action == "type") form->txtFileExt.UserEdited("typed"), form->txtTitleRef.UserEdited("Typed");
    if (action == "add") form->cmdAdd.FireClick();
    if (action == "delete") form->cmdDelete.FireClick();
    if (action == "cancel") form->cmdCancel.FireClick();
    if (action == "list") form->cmdList.FireClick();
    if (action.rfind("select", 0) == 0) form->lvwAsso.UserSelected(std::stoi(action.substr(7)));
    EXPECT_EQ(Mode(), row.mode);
    EXPECT_EQ(form->txtFileExt.Text(), row.ext);
    EXPECT_EQ(form->txtTitleRef.Text(), row.title);
  }
  EXPECT_EQ(Texts(), std::vector<std::string>{"Просмотр завершен.  Всего  2"});
  // Each mode button and the list button play the click cue; cancel is silent.
  EXPECT_EQ(platform.sounds.size(), 5u);
  for (const auto& s : platform.sounds) {
    EXPECT_EQ(s.path, dir.File("Sound/Click.wxv"));
    EXPECT_EQ(s.flags, ui::SND_ASYNC);
  }
}

TEST_F(Manager, ListCommand) {
  const struct {
    const char* name;
    std::vector<std::string> extensions;  // seeded as E -> "T E" with "c E", or "E=" with no command key
    std::vector<std::string> texts;
    std::size_t rows;
  } rows[] = {
      {"rows", {".b", ".a", ".nocmd="}, {"Просмотр завершен.  Всего  2"}, 2},
      {"no extension keys", {"noext"}, {"Записей ассациации не обнаруженно"}, 0},
      {"every row dropped", {".x=", ".y="}, {"Записей для просмотра необнаруженно."}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto store = MakeRegistry(dir.Path() + "/" + row.name);
    for (const std::string& e : row.extensions) {
      if (e.back() == '=') {
        SeedValue(*store, e.substr(0, e.size() - 1), "", REG_SZ, "No Command");
      } else {
        SeedAssociation(*store, e, "T " + e, "c " + e);
      }
    }
    frmZandrel f(platform, *store, nullptr, nullptr);
    f.Show();
    platform.ClearRecord();
    std::vector<std::string> atMessage;  // pointer, progress, commands as the box shows
    platform.onMessage = [&](const Platform::Message&) {
      atMessage.push_back(std::to_string(platform.MousePointer()) + (f.lblProgress.Visible() ? " progress" : "") +
                          Mode(&f).substr(1, 3));
    };
    ASSERT_TRUE(f.cmdList.FireClick());
    EXPECT_EQ(Texts(), row.texts);
    EXPECT_EQ(platform.messages[0].flags, 0);
    EXPECT_EQ(atMessage, std::vector<std::string>{row.rows > 0 ? "0111" : "0110"});
    EXPECT_EQ(platform.pointerChanges, (std::vector<int>{11, 0}));
    EXPECT_EQ(platform.doEventsCount, 1);
    EXPECT_EQ(f.lvwAsso.Count(), row.rows);
    EXPECT_EQ(f.Focused(), row.rows > 0 ? static_cast<ui::Control*>(&f.lvwAsso) : &f.cbxUpdateList);
    if (row.rows > 0) {
      EXPECT_EQ(f.lvwAsso.Items()[0].text + "|" + f.lvwAsso.Items()[0].Cell(1) + "|" + f.lvwAsso.Items()[0].Cell(2),
                ".a|T .a|c .a");
      EXPECT_EQ(f.lvwAsso.SelectedIndex(), 0);
    }
    platform.onMessage = nullptr;
    f.Close();
  }
  // The desktop's own rows missing (their helper is): one message says why,
  // then the registry's own rows are listed.
  Seed();
  RecordingDesktop withoutView(*registry);
  withoutView.viewError = "cannot run /z/zandrel-desktop-view: No such file or directory";
  frmZandrel lone(platform, *registry, nullptr, nullptr, nullptr, &withoutView);
  lone.Show();
  platform.ClearRecord();
  ASSERT_TRUE(lone.cmdList.FireClick());
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Ассоциации рабочего стола не прочитаны (cannot run "
                                               "/z/zandrel-desktop-view: No such file or directory). В списке только "
                                               "ассоциации, заданные в Zandrel.",
                                               "Просмотр завершен.  Всего  2"}));
  lone.Close();
  // The classes key does not open: nothing after the cue.
  platform.ClearRecord();
  form->lvwAsso.SetVisible(false);
  failing.FailNth(1, ERROR_ACCESS_DENIED, Open);
  form->cmdList.FireClick();
  EXPECT_EQ(platform.sounds.size(), 1u);
  EXPECT_TRUE(platform.messages.empty() && platform.pointerChanges.empty());
  EXPECT_FALSE(form->lvwAsso.Visible());
  EXPECT_EQ(failing.Lines(Open).back(), "Open SOFTWARE\\Classes -> 5");
}

TEST_F(Manager, CountsBeyondSixteenBitsAndAMinimizedWindowKeepsItsFocus) {
  // One transaction makes the hive's seeding quick; the machine's registry
  // is quicker without one, whose undo record would log every key durably.
  const bool batch = !Backends().front().machine;
  ASSERT_EQ(batch ? registry->BeginTransaction() : 0, 0);
  char name[16];
  for (int i = 0; i < 33000; ++i) {
    std::snprintf(name, sizeof name, ".e%05d", i);
    SeedValue(*registry, name, "", REG_SZ, "Shared");
  }
  SeedValue(*registry, "Shared\\shell\\open\\command", "", REG_SZ, "s %1");
  ASSERT_EQ(batch ? registry->CommitTransaction() : 0, 0);
  form->SetMinimized(true);
  form->cmdList.FireClick();
  EXPECT_EQ(Texts(), std::vector<std::string>{"Просмотр завершен.  Всего  33000"});
  EXPECT_EQ(form->lvwAsso.Items()[32999].text, ".e32999");
  EXPECT_EQ(form->Focused(), &form->cbxUpdateList);
}

// Another copy's change is listed at the watch's next tick once the window
// is idle in list mode, quietly and keeping the selected extension; not
// while a box is open or in add mode, and never for the window's own store.
TEST_F(Manager, AChangeMadeElsewhereIsListedWhenTheWindowIsIdle) {
  Seed();
  std::unique_ptr<IRegistry> other = Backends().front().reopen(dir.Path());
  auto names = [this] {
    std::string texts;
    for (const ui::ListItem& item : form->lvwAsso.Items()) texts += item.text;
    return texts + (form->lvwAsso.SelectedItem() ? " " + form->lvwAsso.SelectedItem()->text : "");
  };
  SeedAssociation(*other, ".zo", "Zo Title", "zo %1");
  platform.AdvanceTime(3000);
  EXPECT_EQ(names(), "") << "nothing is listed before the first listing";
  // A change while the closing box of the listing is open waits for it.
  platform.onMessage = [&](const Platform::Message&) {
    platform.onMessage = nullptr;
    SeedAssociation(*other, ".zp", "Zp Title", "zp %1");
    platform.AdvanceTime(1000);
  };
  form->cmdList.FireClick();
  EXPECT_EQ(names(), ".zo.zq.zr .zo");
  form->lvwAsso.UserSelected(2);
  platform.ClearRecord();
  platform.AdvanceTime(1000);
  EXPECT_EQ(names(), ".zo.zp.zq.zr .zr");
  EXPECT_TRUE(platform.messages.empty() && platform.sounds.empty()) << "listed quietly";
  form->cmdAdd.FireClick();
  SeedAssociation(*other, ".zs", "Zs Title", "zs %1");
  platform.AdvanceTime(1000);
  EXPECT_EQ(names(), ".zo.zp.zq.zr .zr") << "not in add mode";
  form->cmdCancel.FireClick();
  platform.AdvanceTime(1000);
  EXPECT_EQ(names(), ".zo.zp.zq.zr.zs .zr");
  SeedAssociation(*registry, ".zt", "Zt Title", "zt %1");
  platform.AdvanceTime(1000);
  EXPECT_EQ(names(), ".zo.zp.zq.zr.zs .zr") << "the window's own store's changes are its own to show";
}

// A click let through while the list waits in message processing runs a
// whole second listing inside the first; both end with the full list.
TEST_F(Manager, AListingInsideAListing) {
  struct Reclicking : Platform {
    void DoEvents() override {
      ui::headless::HeadlessPlatform::DoEvents();
      if (doEventsCount == 1) form->cmdList.FireClick();
    }
    frmZandrel* form = nullptr;
  } reclicking;
  reclicking.SetExecutableFolder(dir.Path());
  Seed();
  frmZandrel second(reclicking, *registry, nullptr, nullptr);
  second.Show();
  reclicking.form = &second;
  second.cmdList.FireClick();
  ASSERT_EQ(reclicking.messages.size(), 2u);
  EXPECT_EQ(reclicking.messages[1].text, "Просмотр завершен.  Всего  2");
  EXPECT_EQ(second.lvwAsso.Count(), 2u);
  EXPECT_EQ(reclicking.MousePointer(), ui::kPointerDefault);
}

TEST_F(Manager, AboutAndExitPlayTheCueFirstInEveryMode) {
  form->cmdA01.FireClick();
  form->cmdAdd.FireClick();
  form->cmdExit.FireClick();
  form->cmdA01.FireClick();
  EXPECT_EQ(about, (std::vector<std::size_t>{1, 4}));
  EXPECT_EQ(exits, (std::vector<std::size_t>{3}));
}

TEST_F(Manager, Browse) {
  form->cmdAdd.FireClick();
  form->txtExecutableFileSpec.UserEdited("/old");
  form->CommonDialog1.FileName = "/left/over";
  platform.DialogNext({"", ui::kCancelErrorNumber, "Cancel was selected."});
  platform.DialogNext({"", 0, ""});
  platform.DialogNext({"", 20476, "FileName buffer too small"});
  platform.DialogNext({"/usr/bin/chosen prog.exe", 0, ""});
  for (int i = 0; i < 3; ++i) form->cmdDialogFileSpec.FireClick();
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/old");
  EXPECT_EQ(Texts(), std::vector<std::string>{"cmdDialogFileSpec_Click\r\n20476     FileName buffer too small"});
  EXPECT_EQ(platform.messages[0].flags, 0);
  form->cmdDialogFileSpec.FireClick();
  EXPECT_EQ(form->txtExecutableFileSpec.Text(), "/usr/bin/chosen prog.exe");
  const auto& d = platform.dialogs.at(0);
  EXPECT_EQ(d.filter, "(*.exe)|*.exe|(*.com)|*.com|(*.*)|*.*|");
  EXPECT_EQ(std::vector<std::int64_t>({d.filterIndex, d.flags, d.cancelError}),
            (std::vector<std::int64_t>{1, 4096, 1}));
  EXPECT_EQ(d.defaultExt + "|" + d.fileName, "exe|");
  EXPECT_EQ(platform.sounds.size(), 1u) << "browsing is silent";
  EXPECT_FALSE(platform.fatalError.has_value());
}

}  // namespace
}  // namespace zandrel::testing
