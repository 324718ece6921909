// The manager window on the headless controls over the registry the program
// ships: its states after load and in each mode, the list command, the
// change commands' effects on the window, browsing, and the cues.
#include <gtest/gtest.h>

#include <regex>

#include "manager/frmZandrel.h"
#include "regfile/RegFile.h"
#include "registry/ForwardingRegistry.h"
#include "ui/headless/HeadlessPlatform.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using manager::frmZandrel;
using Platform = ui::headless::HeadlessPlatform;
const char* const kPictures[] = {"k01-1.g", "k01-2.g", "k02-1.g", "k02-2.g", "k03-1.g",
                                 "k03-2.g", "k04-1.g", "k04-2.g", "Abt1.g",  "Abt2.g"};

class Manager : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kPictures) dir.Write(std::string("Pic/") + name, TinyPng(99, 33));
    platform.SetExecutableFolder(dir.Path());
    form = std::make_unique<frmZandrel>(platform, failing, [this] { about.push_back(platform.sounds.size()); },
                                        [this] { exits.push_back(platform.sounds.size()); });
    form->Show();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : platform.messages) {
      EXPECT_EQ(m.title, "Zandrel");
      texts.push_back(m.text);
    }
    return texts;
  }
  // The window's mode as one line: list shown, list/add/delete enabled,
  // program fields shown, warning shown, the frame's caption, the focus.
  std::string Mode(const frmZandrel* of = nullptr) const {
    const frmZandrel* form = of != nullptr ? of : this->form.get();
    auto b = [](bool v) { return v ? "1" : "0"; };
    std::string s = std::string(b(form->lvwAsso.Visible())) + b(form->cmdList.Enabled()) + b(form->cmdAdd.Enabled()) +
                    b(form->cmdDelete.Enabled()) + b(form->lblExecutableFileSpec.Visible()) +
                    b(form->txtExecutableFileSpec.Visible()) + b(form->cmdDialogFileSpec.Visible()) +
                    b(form->lblRemarksForTitleDelete.Visible()) + " " + form->fraAsso.Caption();
    for (const ui::Control* c : std::initializer_list<const ui::Control*>{
             &form->cbxUpdateList, &form->txtFileExt, &form->txtTitleRef, &form->cmdProceed, &form->cmdCancel,
             &form->cmdExit, &form->cmdA01})
      if (!c->Visible() || !c->Enabled()) s += " " + c->Name() + " off";
    return s + " " + (form->Focused() ? form->Focused()->Name() : "none");
  }
  void Seed() {
    SeedAssociation(*registry, ".zq", "Zq Title", "zq %1");
    SeedAssociation(*registry, ".zr", "Zr Title", "zr %1");
  }

  TempDir dir;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  FailingRegistry failing{*registry};
  Platform platform;
  std::unique_ptr<frmZandrel> form;
  std::vector<std::size_t> about, exits;  // sounds played when the About box or the exit was asked for
};

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
      EXPECT_EQ(f.lvwAsso.Items()[0].text + "|" + f.lvwAsso.Items()[0].sub1 + "|" + f.lvwAsso.Items()[0].sub2,
                ".a|T .a|c .a");
      EXPECT_EQ(f.lvwAsso.SelectedIndex(), 0);
    }
    platform.onMessage = nullptr;
    f.Close();
  }
  // The desktop's own rows missing (their helper is): one message says why,
  // then the registry's own rows are listed.
  struct WithoutView : ForwardingRegistry {
    using ForwardingRegistry::ForwardingRegistry;
    std::string DesktopViewError() override { return "cannot run /z/zandrel-desktop-view: No such file or directory"; }
  };
  Seed();
  WithoutView withoutView(*registry);
  frmZandrel lone(platform, withoutView, nullptr, nullptr);
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

TEST_F(Manager, ChangesThroughTheWindow) {
  const std::string program = dir.Write("bin/prog.exe", "MZ");
  Seed();
  std::vector<std::size_t> changedAt;  // messages shown when the desktop heard of a committed change
  std::vector<std::string> changedFor;
  const auto desktopAnswers = [&](const std::string& failure) {  // the desktop's answer to each change
    platform.SetAssociationsChangedHandler([&, failure](const std::string& extension) {
      changedAt.push_back(platform.messages.size());
      changedFor.push_back(extension);
      return failure;
    });
  };
  desktopAnswers("");
  form->cmdAdd.FireClick();
  for (const char* caption : {"добавить", "Добавить ", "", "Удалить."}) {  // proceed acts on the caption exactly
    form->fraAsso.SetCaption(caption);
    form->cmdProceed.FireClick();
  }
  EXPECT_TRUE(platform.messages.empty() && failing.log.empty());
  form->fraAsso.SetCaption("Добавить");
  form->txtFileExt.UserEdited("new");
  form->txtTitleRef.UserEdited("New Title");
  form->txtExecutableFileSpec.UserEdited(program);
  form->cbxUpdateList.FireClick();  // unticked: the window stays in add mode
  // Where Windows keeps a choice for the user, the window offers its page.
  const std::string choice = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.new\\UserChoice";
  SeedValue(*registry, choice, "ProgId", REG_SZ, "Applications\\viewer.exe", HKEY_CURRENT_USER);
  SeedValue(*registry, choice, "Hash", REG_SZ, "h=", HKEY_CURRENT_USER);
  platform.AnswerNext(IDOK);
  platform.AnswerNext(IDYES);
  form->cmdProceed.FireClick();
  ASSERT_EQ(Texts().size(), 2u);
  EXPECT_EQ(Texts()[1], "Открыть «Приложения по умолчанию» в «Параметрах» Windows?");
  EXPECT_EQ(platform.shellOpened, std::vector<std::string>{"ms-settings:defaultapps"});
  ASSERT_EQ(registry->RegDeleteKeyA(HKEY_CURRENT_USER, choice.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Mode(), "00001110 Добавить txtFileExt");
  EXPECT_EQ(changedAt, std::vector<std::size_t>{2});
  form->cbxUpdateList.FireClick();
  form->txtFileExt.UserEdited("new2");
  form->txtTitleRef.UserEdited("New Title 2");
  platform.ClearRecord();
  // A desktop that cannot follow: its text after the change's own, then the reload's.
  desktopAnswers("the desktop's failure");
  form->cmdProceed.FireClick();  // ticked: the list is reloaded and shown
  ASSERT_EQ(Texts().size(), 3u);
  EXPECT_EQ(Texts()[1], "the desktop's failure");
  EXPECT_EQ(platform.messages[1].flags, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(Texts()[2], "Просмотр завершен.  Всего  4");
  desktopAnswers("");
  EXPECT_EQ(Mode(), "11111110 Добавить lvwAsso");
  ASSERT_EQ(platform.shellNotifies.size(), 1u) << "an add tells the shell once";
  EXPECT_EQ(form->lvwAsso.Items()[0].sub2, "\"" + program + "\" \"%1\"");
  // A removal tells the shell once, after the reload's message; the question
  // names the extension as the field holds it, whatever row was chosen.
  form->lvwAsso.UserSelected(1);
  form->cmdDelete.FireClick();
  form->txtFileExt.UserEdited(".new");
  form->txtTitleRef.UserEdited("New Title");
  platform.ClearRecord();
  platform.AnswerNext(IDYES);
  std::vector<std::size_t> notifiesAtMessage;
  platform.onMessage = [&](const Platform::Message&) { notifiesAtMessage.push_back(platform.shellNotifies.size()); };
  form->cmdProceed.FireClick();
  EXPECT_EQ(Texts()[0], "Удаляется расширенние .new\r\nХотите удалить расширенние и описание?");
  EXPECT_EQ(Texts()[2], "Просмотр завершен.  Всего  3");
  EXPECT_EQ(notifiesAtMessage, (std::vector<std::size_t>{0, 0, 0}));
  ASSERT_EQ(platform.shellNotifies.size(), 1u);
  const Platform::ShellNotify n = platform.shellNotifies[0];
  EXPECT_EQ(std::vector<std::int64_t>({n.eventId, n.flags, n.item1, n.item2}), (std::vector<std::int64_t>{0x08000000, 0, 0, 0}));
  EXPECT_EQ(Mode(), "11110001 Удалить lvwAsso");
  EXPECT_EQ(changedAt, (std::vector<std::size_t>{2, 1, 2})) << "after the change's message, before the reload's";
  EXPECT_EQ(changedFor, (std::vector<std::string>{"new", "new2", ".new"})) << "the extension as the field holds it";
  // A failed removal stays in remove mode and still tells the shell.
  form->cmdDelete.FireClick();
  platform.ClearRecord();
  failing.FailNth(1, ERROR_WRITE_FAULT, DeleteKey);
  platform.AnswerNext(IDYES);
  form->cmdProceed.FireClick();
  EXPECT_EQ(Texts().back(), "Не удалось удалить ассоциацию из реестра .new2");
  EXPECT_EQ(platform.shellNotifies.size(), 1u);
  EXPECT_EQ(changedAt.size(), 3u) << "nothing committed, nothing to tell the desktop";
  EXPECT_EQ(Mode(), "00000001 Удалить txtFileExt");
}

// Ctrl+Z and the list's first menu entry ask the same question about the
// newest change (only in list mode); Yes undoes it, then the list, the
// desktop and the shell follow as after a removal. Ctrl+Y and the second
// entry ask about the newest undo, and undo it the same way.
TEST_F(Manager, UndoOfTheNewestChange) {
  const std::string program = dir.Write("bin/prog.exe", "MZ");
  capture::HistoryRegistry history(*registry);
  form->Close();
  form = std::make_unique<frmZandrel>(platform, history, [] {}, [] {}, &history);
  form->Show();
  EXPECT_EQ(form->lvwAsso.ContextMenu(),
            (std::vector<std::string>{"Отменить последнее изменение", "Вернуть отменённое изменение"}));
  form->FireKey(ui::Key::CtrlZ);
  form->FireKey(ui::Key::CtrlY);
  form->cmdAdd.FireClick();
  form->txtFileExt.UserEdited(".new");
  form->txtTitleRef.UserEdited("New Title");
  form->txtExecutableFileSpec.UserEdited(program);
  form->FireKey(ui::Key::CtrlZ);  // add mode: the frame's own buttons end it
  form->cmdProceed.FireClick();
  ASSERT_EQ(Texts().size(), 4u);
  EXPECT_EQ(Texts()[0], "Нет изменений, которые можно отменить.");
  EXPECT_EQ(Texts()[1], "Нет отменённых изменений, которые можно вернуть.");
  int changed = 0;
  platform.SetAssociationsChangedHandler([&](const std::string& extension) {
    ++changed;
    return extension == ".new" ? std::string() : "not told the undone change's extension: " + extension;
  });
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
  EXPECT_EQ(texts, (std::vector<std::string>{
                       question, question,
                       "0 Изменение 1 (добавление .new) отменено, ключей: 6. Отмена сохранена в истории как изменение 2.",
                       "0 Записей ассациации не обнаруженно",
                       "36 Отменить изменение 2 (отмена изменения 1, {T})?",
                       "0 Изменение 2 (отмена изменения 1) отменено, ключей: 6. Отмена сохранена в истории как "
                       "изменение 3.",
                       "0 Просмотр завершен.  Всего  1", "0 Нет отменённых изменений, которые можно вернуть."}));
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(platform.shellNotifies.size(), 2u);
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
    frmZandrel window(platform, history, [] {}, [] {}, &history);
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
    const std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].rfind("Отменить изменение 1 (импорт bulk.reg, ", 0), 0u) << texts[0];
    EXPECT_EQ(texts[1], "Изменение 1 (импорт bulk.reg) отменено, ключей: " + std::to_string(row.keys) +
                            ". Отмена сохранена в истории как изменение 2.");
    EXPECT_EQ(texts[2], "Просмотр завершен.  Всего  1");
    ASSERT_EQ(window.lvwAsso.Count(), 1u);
    EXPECT_EQ(window.lvwAsso.Items()[0].text, ".zq");
    EXPECT_EQ(Mode(&window), "11111111 fraAsso lvwAsso");
    window.Close();
  }
}

// An undo refused because another copy holds the lock past its wait (170),
// or for want of an administrator's rights (5): the undo's own message, then
// why. On Linux 5 names no administrator. (An add's and a removal's are
// ChangesTest's, EachFailingStepShowsItsMessagesAndChangesNothing.)
TEST_F(Manager, AnUndoRefusedForTheLockOrForRightsSaysWhy) {
  const std::string program = dir.Write("bin/prog.exe", "MZ");
  Seed();
  capture::HistoryRegistry history(failing);
  form->Close();
  form = std::make_unique<frmZandrel>(platform, history, [] {}, [] {}, &history);
  form->Show();
#ifdef _WIN32
  const std::string rights = " Для изменения ассоциаций нужны права администратора. Запустите Zandrel от имени администратора.";
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
  form->txtFileExt.UserEdited(".zqm");
  form->txtTitleRef.UserEdited("Zqm Title");
  form->txtExecutableFileSpec.UserEdited(program);
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
  EXPECT_EQ(std::vector<std::int64_t>({d.filterIndex, d.flags, d.cancelError}), (std::vector<std::int64_t>{1, 4096, 1}));
  EXPECT_EQ(d.defaultExt + "|" + d.fileName, "exe|");
  EXPECT_EQ(platform.sounds.size(), 1u) << "browsing is silent";
  EXPECT_FALSE(platform.fatalError.has_value());
}

}  // namespace
}  // namespace zandrel::testing
