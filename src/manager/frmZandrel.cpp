#include "manager/frmZandrel.h"

#include <string>
#include <utility>
#include <vector>

#include "assets/Assets.h"
#include "assets/WindowIcon.h"
#include "manager/AssociationColumns.h"
#include "manager/ErrorMessage.h"
#include "store/AssociationChanges.h"

namespace zandrel::manager {

namespace {

const ui::Font kWindowFont{"MS Sans Serif", 8.25f, false, 0};
const ui::Font kBoldFont{"MS Sans Serif", 8.25f, true, 204};
const ui::Font kProgressFont{"MS Sans Serif", 9.75f, true, 204};

// The list's context menu: the same as Ctrl+Z and Ctrl+Y.
constexpr const char* kUndoEntry = "Отменить последнее изменение";
constexpr const char* kRedoEntry = "Вернуть отменённое изменение";
constexpr const char* kChangeEntry = "Изменить программу…";  // the selected row's
constexpr const char* kRemoveCaption = "Удалить";
// An undo shows its progress once it has lasted this long, and then at most
// this often: well inside the five seconds after which Windows calls a
// window that handles no messages not responding.
constexpr std::int64_t kUndoProgressAfterMs = 500;
constexpr std::int64_t kUndoProgressEveryMs = 200;
// How often the window asks whether the store changed elsewhere.
constexpr int kStoreWatchMs = 1000;
// The fields of a listing row the window reads back from the list's rows.
constexpr RowField kExtension = &store::AssociationRow::extension;
constexpr RowField kDescription = &store::AssociationRow::description;

void Place(ui::Control& control, float left, float top, float width, float height, int tabIndex, const ui::Font& font) {
  control.Move(left, top, width, height);
  control.SetTabIndex(tabIndex);
  control.SetFont(font);
  control.SetColors(ui::kWhite, ui::kBlack);
}

}  // namespace

void frmZandrel::PlatformPrompter::OpenDefaultAppsSettings() { platform_.OpenWithShell(ui::kDefaultAppsSettings); }

int frmZandrel::PlatformPrompter::MsgBox(const std::string& text, int flags) {
  return platform_.MsgBox(text, flags, ui::kAppTitle);
}

frmZandrel::frmZandrel(ui::Platform& platform, IRegistry& registry, std::function<void()> showAbout,
                       std::function<void()> showExit, capture::HistoryRegistry* history, integration::Desktop* desktop)
    : ui::Window(platform, "frmZandrel"),
      cmdA01(*this, nullptr, "cmdA01"),
      lvwAsso(*this, nullptr, "lvwAsso"),
      cmdList(*this, nullptr, "cmdList"),
      cmdExit(*this, nullptr, "cmdExit"),
      cmdAdd(*this, nullptr, "cmdAdd"),
      cmdDelete(*this, nullptr, "cmdDelete"),
      fraAsso(*this, nullptr, "fraAsso"),
      CommonDialog1(*this),
      lblProgress(*this, nullptr, "lblProgress"),
      cbxUpdateList(*this, &fraAsso, "cbxUpdateList"),
      lblTitleRef(*this, &fraAsso, "lblTitleRef"),
      lblFileExt(*this, &fraAsso, "lblFileExt"),
      txtTitleRef(*this, &fraAsso, "txtTitleRef"),
      txtFileExt(*this, &fraAsso, "txtFileExt"),
      lblRemarksForTitleDelete(*this, &fraAsso, "lblRemarksForTitleDelete"),
      lblExecutableFileSpec(*this, &fraAsso, "lblExecutableFileSpec"),
      txtExecutableFileSpec(*this, &fraAsso, "txtExecutableFileSpec"),
      cmdDialogFileSpec(*this, &fraAsso, "cmdDialogFileSpec"),
      cmdProceed(*this, &fraAsso, "cmdProceed"),
      cmdCancel(*this, &fraAsso, "cmdCancel"),
      tmrStoreWatch(*this, "tmrStoreWatch"),
      registry_(registry),
      history_(history),
      desktop_(desktop),
      show_about_(std::move(showAbout)),
      show_exit_(std::move(showExit)),
      prompter_(platform),
      listing_(registry, desktop) {
  LayOut();
  BindHandlers();
}

frmZandrel::~frmZandrel() = default;

std::unique_ptr<ui::Window> frmZandrel::Create(ui::Platform& platform, IRegistry& registry,
                                               std::function<void()> showAbout, std::function<void()> showExit,
                                               capture::HistoryRegistry* history, integration::Desktop* desktop) {
  return std::make_unique<frmZandrel>(platform, registry, std::move(showAbout), std::move(showExit), history, desktop);
}

frmZandrel::Factory frmZandrel::CreatorWith(capture::HistoryRegistry* history, integration::Desktop* desktop) {
  return [history, desktop](ui::Platform& platform, IRegistry& registry, std::function<void()> showAbout,
                            std::function<void()> showExit) {
    return Create(platform, registry, std::move(showAbout), std::move(showExit), history, desktop);
  };
}

void frmZandrel::LayOut() {
  SetCaption("Orvanta");
  SetBorder(ui::BorderStyle::FixedSingle);
  SetClientSize(8535, 7245);
  SetBackColor(ui::kWhite);
  SetIcon(assets::WindowIcon());

  Place(cmdA01, 6360, 120, 1815, 495, 18, kWindowFont);
  Place(lvwAsso, 0, 1080, 8535, 6255, 16, kBoldFont);
  Place(cmdList, 120, 120, 1485, 495, 14, kBoldFont);
  Place(cmdExit, 4800, 120, 1485, 495, 13, kBoldFont);
  Place(cmdAdd, 1680, 120, 1485, 495, 12, kBoldFont);
  Place(cmdDelete, 3240, 120, 1485, 495, 11, kBoldFont);
  for (ui::Button* b : {&cmdA01, &cmdList, &cmdExit, &cmdAdd, &cmdDelete}) b->SetGraphical(true);
  Place(fraAsso, 480, 2160, 7155, 3945, 0, kBoldFont);
  fraAsso.SetCaption("fraAsso");
  Place(lblProgress, 120, 720, 2415, 255, 15, kProgressFont);
  lblProgress.SetCaption("Загрузка данных....");

  Place(cbxUpdateList, 270, 360, 3135, 195, 1, kWindowFont);
  cbxUpdateList.SetCaption("Показать изменнения ");
  cbxUpdateList.SetToolTip("Поставьте здесь галочку, чтобы увидеть изменнения в списке сразу после вашего глумленния.");
  cbxUpdateList.SetValue(1);
  Place(lblTitleRef, 3360, 600, 885, 225, 10, kWindowFont);
  lblTitleRef.SetCaption("Описание");
  Place(lblFileExt, 1440, 720, 1125, 225, 9, kWindowFont);
  lblFileExt.SetCaption("Расширенние");
  Place(txtTitleRef, 3360, 840, 2445, 315, 4, kWindowFont);
  Place(txtFileExt, 1440, 960, 675, 315, 5, kWindowFont);
  Place(lblRemarksForTitleDelete, 3360, 1200, 2835, 555, 17, kWindowFont);
  lblRemarksForTitleDelete.SetCaption(
      "WARNING: Не удаляйте если не уверены, что другие расширенния используют тоже описание.");
  Place(lblExecutableFileSpec, 120, 2040, 6045, 495, 8, kWindowFont);
  lblExecutableFileSpec.SetCaption(
      "Путь к программе с которой в хотите провести ассоциацию выбранного вами расширенния:");
  Place(txtExecutableFileSpec, 120, 2520, 5655, 315, 7, kWindowFont);
  Place(cmdDialogFileSpec, 5760, 2520, 315, 255, 6, kBoldFont);
  cmdDialogFileSpec.SetCaption("...");
  cmdDialogFileSpec.SetToolTip("Выберети программу");
  Place(cmdProceed, 2160, 3360, 1365, 375, 3, kBoldFont);
  cmdProceed.SetCaption("Применить");
  Place(cmdCancel, 3960, 3360, 1365, 375, 2, kBoldFont);
  cmdCancel.SetCaption("Отмена");
  for (ui::Button* b : {&cmdDialogFileSpec, &cmdProceed, &cmdCancel}) b->SetGraphical(true);
}

void frmZandrel::BindHandlers() {
  cmdList.Click = [this] { cmdList_Click(); };
  cmdAdd.Click = [this] { cmdAdd_Click(); };
  cmdDelete.Click = [this] { cmdDelete_Click(); };
  cmdExit.Click = [this] { cmdExit_Click(); };
  cmdA01.Click = [this] { cmdA01_Click(); };
  cmdCancel.Click = [this] { cmdCancel_Click(); };
  cmdProceed.Click = [this] { cmdProceed_Click(); };
  cmdDialogFileSpec.Click = [this] { cmdDialogFileSpec_Click(); };
  tmrStoreWatch.SetInterval(kStoreWatchMs);
  tmrStoreWatch.Tick = [this] { tmrStoreWatch_Timer(); };
  lvwAsso.DblClick = [this] { lvwAsso_DblClick(); };
  std::vector<std::string> menu = {kChangeEntry, kCheckEntry};
  if (history_ != nullptr) {
    SetShortcut(ui::Key::CtrlZ, [this] { UndoLastChange(); });
    SetShortcut(ui::Key::CtrlY, [this] { UndoLastChange(store::Newest::kUndo); });
    menu.insert(menu.begin(), {kUndoEntry, kRedoEntry});
  }
  lvwAsso.SetContextMenu(std::move(menu), [this](std::size_t entry) { lvwAsso_ContextMenu(entry); });
}

void frmZandrel::lvwAsso_ContextMenu(std::size_t entry) {
  const std::string& chosen = lvwAsso.ContextMenu().at(entry);
  if (chosen == kChangeEntry) EditProgram();
  else if (chosen == kCheckEntry) CheckAssociations();
  else UndoLastChange(chosen == kUndoEntry ? store::Newest::kChange : store::Newest::kUndo);
}

void frmZandrel::LoadButtonPictures(ui::Button& button, const char* normal, const char* pressed) {
  ui::Platform& platform = GetPlatform();
  button.SetPicture(assets::LoadAssetPicture(platform, normal));
  button.SetDisabledPicture(assets::LoadAssetPicture(platform, normal));
  button.SetDownPicture(assets::LoadAssetPicture(platform, pressed));
}

void frmZandrel::Form_Load() {
  lvwAsso.ClearItems();
  SetAssociationColumns(lvwAsso, OuterWidth());
  lvwAsso.SetManualLabelEdit(true);
  lvwAsso.SetFullRowSelect(true);
  lvwAsso.SetHideSelection(false);
  lvwAsso.SetHideColumnHeaders(false);
  lvwAsso.SetReportView(true);
  cmdDelete.SetEnabled(false);
  lblProgress.SetVisible(false);
  LoadButtonPictures(cmdList, "\\k01-1.g", "\\k01-2.g");
  LoadButtonPictures(cmdAdd, "\\k03-1.g", "\\k03-2.g");
  LoadButtonPictures(cmdDelete, "\\k02-1.g", "\\k02-2.g");
  LoadButtonPictures(cmdExit, "\\k04-1.g", "\\k04-2.g");
  LoadButtonPictures(cmdA01, "\\Abt1.g", "\\Abt2.g");
}

void frmZandrel::Form_Resize() {
  float h = ClientHeight() - lvwAsso.Top();
  if (h < 150.0f) h = 150.0f;
  lvwAsso.Move(0.0f, lvwAsso.Top(), ClientWidth(), h);
  FitLastColumn(lvwAsso, OuterWidth());
}

void frmZandrel::EnableCommands(bool enabled) {
  cmdList.SetEnabled(enabled);
  cmdAdd.SetEnabled(enabled);
  cmdDelete.SetEnabled(enabled);
  if (cmdDelete.Enabled()) cmdDelete.SetEnabled(lvwAsso.Count() >= 1);
}

// The list command's steps on the window while the store reads the list.
class frmZandrel::ListingWindowSteps : public store::ListingSteps {
 public:
  explicit ListingWindowSteps(frmZandrel& form) : form_(form) {}
  void ClassesKeyOpened() override {
    ui::Platform& platform = form_.GetPlatform();
    form_.lvwAsso.SetVisible(true);
    form_.lblProgress.SetVisible(true);
    platform.DoEvents();
    platform.SetMousePointer(ui::kPointerHourglass);
    form_.EnableCommands(false);
  }
  void ExtensionNamesCollected() override { form_.lvwAsso.ClearItems(); }
  void ExtensionPassDone() override { form_.lblProgress.SetVisible(false); }

 private:
  frmZandrel& form_;
};

void frmZandrel::cmdList_Click() { ShowList(true); }

void frmZandrel::ShowList(bool announce) {
  ui::Platform& platform = GetPlatform();
  if (announce) assets::PlaySoundCue(platform, assets::kClickCue);
  std::uint64_t counter = 0;
  if (registry_.QueryChangeCounter(&counter) == ERROR_SUCCESS)
    listed_at_ = counter;  // read first: a change made during the listing shows next time
  else listed_at_.reset();
  const ui::ListItem* was = lvwAsso.SelectedItem();
  const std::string selected = was != nullptr ? FieldText(*was, kExtension) : std::string();
  ListingWindowSteps steps(*this);
  store::ListingResult listed = listing_.List(steps);
  if (!listed.classesKeyOpened) return;
  if (!listed.viewError.empty())
    prompter_.MsgBox("Ассоциации рабочего стола не прочитаны (" + listed.viewError +
                         "). В списке только ассоциации, заданные в Zandrel.",
                     MB_OK);
  if (listed.extensionRows == 0) {
    EnableCommands(true);
    platform.SetMousePointer(ui::kPointerDefault);
    if (announce) prompter_.MsgBox("Записей ассациации не обнаруженно", MB_OK);
    return;
  }

  lvwAsso.SetItems(MarkBroken(ListItems(std::move(listed.rows))));

  const std::size_t count = lvwAsso.Count();
  EnableCommands(true);
  lblProgress.SetVisible(false);
  platform.SetMousePointer(ui::kPointerDefault);
  if (!announce) {
    if (!selected.empty())
      for (std::size_t i = 0; i < count; ++i)
        if (FieldText(lvwAsso.Items()[i], kExtension) == selected) lvwAsso.Select(static_cast<long>(i));
    return;
  }
  if (count < 1) {
    prompter_.MsgBox("Записей для просмотра необнаруженно.", MB_OK);
    return;
  }
  prompter_.MsgBox("Просмотр завершен.  Всего  " + std::to_string(count), MB_OK);
  if (!Minimized()) lvwAsso.SetFocus();
}

void frmZandrel::tmrStoreWatch_Timer() {
  if (!listed_at_) return;
  std::uint64_t counter = 0;
  if (registry_.QueryChangeCounter(&counter) != ERROR_SUCCESS || counter == *listed_at_) return;
  const bool idle = GetPlatform().HandlerDepth() <= 1 && lvwAsso.Visible() && cmdList.Enabled();
  if (idle) ShowList(false);
}

void frmZandrel::OpenEntryFrame() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  EnableCommands(false);
  lblRemarksForTitleDelete.SetVisible(false);
  lblExecutableFileSpec.SetVisible(true);
  txtExecutableFileSpec.SetVisible(true);
  cmdDialogFileSpec.SetVisible(true);
}

void frmZandrel::cmdAdd_Click() {
  OpenEntryFrame();
  lvwAsso.SetVisible(false);
  fraAsso.SetCaption(kAddCaption);
  txtFileExt.SetFocus();
}

void frmZandrel::cmdDelete_Click() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  lblRemarksForTitleDelete.SetVisible(true);
  EnableCommands(false);
  lblExecutableFileSpec.SetVisible(false);
  txtExecutableFileSpec.SetVisible(false);
  cmdDialogFileSpec.SetVisible(false);
  lvwAsso.SetVisible(false);
  // Without a selected row the fields keep what they hold.
  if (const ui::ListItem* selected = lvwAsso.SelectedItem()) {
    txtFileExt.SetText(FieldText(*selected, kExtension));
    txtTitleRef.SetText(FieldText(*selected, kDescription));
  }
  fraAsso.SetCaption(kRemoveCaption);
  txtFileExt.SetFocus();
}

void frmZandrel::cmdCancel_Click() {
  if (fraAsso.Caption() == kChangeCaption) LeaveProgramChange();
  lvwAsso.SetVisible(true);
  EnableCommands(true);
}

void frmZandrel::cmdProceed_Click() {
  if (fraAsso.Caption() == kAddCaption) CreateAssociation();
  else if (fraAsso.Caption() == kRemoveCaption) RemoveAssociation();
  else if (fraAsso.Caption() == kChangeCaption) ChangeProgram();
}

void frmZandrel::cmdDialogFileSpec_Click() {
  try {
    CommonDialog1.Filter = "(*.exe)|*.exe|(*.com)|*.com|(*.*)|*.*|";
    CommonDialog1.FilterIndex = 1;
    CommonDialog1.DefaultExt = "exe";
    CommonDialog1.Flags = ui::OFN_FILEMUSTEXIST;
    CommonDialog1.FileName = "";
    CommonDialog1.CancelError = true;
    CommonDialog1.ShowOpen();
    if (!CommonDialog1.FileName.empty()) txtExecutableFileSpec.SetText(CommonDialog1.FileName);
  } catch (const ui::RuntimeError& error) {
    if (error.number == ui::kCancelErrorNumber) return;
    ShowErrorMessage(GetPlatform(), "cmdDialogFileSpec_Click", error);
  }
}

void frmZandrel::cmdA01_Click() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  if (show_about_) show_about_();
}

void frmZandrel::cmdExit_Click() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  if (show_exit_) show_exit_();
}

void frmZandrel::DesktopFollows(const std::string& extension, bool committed) {
  if (desktop_ == nullptr) return;
  const std::string failure = desktop_->AfterChange(extension, committed).shown;
  if (!failure.empty()) prompter_.MsgBox(failure, MB_OK | MB_ICONEXCLAMATION);
}

void frmZandrel::CreateAssociation() {
  store::AssociationFields fields{txtFileExt.Text(), txtTitleRef.Text(), txtExecutableFileSpec.Text(),
                                  cbxUpdateList.Value()};
  store::ChangeOutcome outcome = store::CreateAssociation(registry_, prompter_, fields, desktop_);
  if (outcome.notifyShell) DesktopFollows(fields.fileExt, outcome.committed);
  if (outcome.reloadList) cmdList_Click();
}

void frmZandrel::RemoveAssociation() {
  store::RemovalFields fields;
  fields.fileExt = txtFileExt.Text();
  fields.titleRef = txtTitleRef.Text();
  fields.updateList = cbxUpdateList.Value();
  store::ChangeOutcome outcome = store::RemoveAssociation(registry_, prompter_, fields, desktop_);
  if (outcome.notifyShell) DesktopFollows(fields.fileExt, outcome.committed);
  if (outcome.reloadList) cmdList_Click();
}

// The undo's progress in the window's caption, redrawn with the windows; the
// caption the window had comes back when the undo ends.
class frmZandrel::UndoCaption {
 public:
  UndoCaption(frmZandrel& form, unsigned change)
      : form_(form),
        change_(change),
        caption_(form.Caption()),
        next_(form.GetPlatform().TickCount() + kUndoProgressAfterMs) {}
  ~UndoCaption() {
    if (shown_) form_.SetCaption(caption_);
  }
  UndoCaption(const UndoCaption&) = delete;
  UndoCaption& operator=(const UndoCaption&) = delete;

  void operator()(std::size_t done, std::size_t total) {
    ui::Platform& platform = form_.GetPlatform();
    const std::int64_t now = platform.TickCount();
    if (now < next_) return;
    next_ = now + kUndoProgressEveryMs;
    shown_ = true;
    form_.SetCaption("Отмена изменения " + std::to_string(change_) + ": ключей " + std::to_string(done) + " из " +
                     std::to_string(total) + "…");
    platform.DoPaintEvents();
  }

 private:
  frmZandrel& form_;
  unsigned change_;
  std::string caption_;
  std::int64_t next_;  // when the progress may show next
  bool shown_ = false;
};

void frmZandrel::UndoLastChange(store::Newest which) {
  if (!lvwAsso.Visible()) return;  // the entry frame's modes end only by their own buttons
  if (undoing_) return;
  capture::HistoryEntry newest;
  LONG read = ERROR_SUCCESS;
  if (!store::NewestUndoable(history_->Inner(), &newest, &read, which)) {
    store::UndoOutcome none;
    if (which == store::Newest::kUndo) none.result = store::UndoOutcome::Result::kNothingToRedo;
    prompter_.MsgBox(read == ERROR_SUCCESS ? store::UndoMessage(none) : store::HistoryUnreadable(read), MB_OK);
    return;
  }
  const std::string question = "Отменить изменение " + std::to_string(newest.number) + " (" +
                               capture::ChangeTitle(newest.kind, newest.subject) + ", " +
                               capture::LocalTime(newest.time) + ")?";
  if (prompter_.MsgBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  store::UndoOutcome outcome;
  {
    undoing_ = true;
    struct Done {
      bool& undoing;
      ~Done() { undoing = false; }
    } done{undoing_};
    UndoCaption caption(*this, newest.number);
    outcome = store::UndoChange(*history_, newest.number,
                                [&caption](std::size_t keys, std::size_t total) { caption(keys, total); });
  }
  prompter_.MsgBox(store::UndoMessage(outcome), MB_OK);
  if (outcome.result != store::UndoOutcome::Result::kUndone) return;
  cmdList_Click();
  // The desktop's files and the shell follow, as after an add or a removal.
  DesktopFollows(capture::ChangedExtension(history_->Inner(), newest), true);
}

}  // namespace zandrel::manager
