// The manager window's change of a row's program: the entry frame captioned
// "Изменить" over the row's extension and description, locked, the question
// that names every extension the new program reaches, and the change itself
// (store/ProgramChange.h), followed as an add is.
#include <string>
#include <vector>

#include "manager/AssociationColumns.h"
#include "manager/frmZandrel.h"
#include "store/DesktopAnswers.h"
#include "store/ProgramChange.h"
#include "store/Titles.h"

namespace zandrel::manager {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr RowField kExtension = &store::AssociationRow::extension;
constexpr RowField kDescription = &store::AssociationRow::description;

// The question before a change planned as `plan` (for every extension
// naming the title): what changes, from what to what, and who else opens
// with the new program when the title is shared; its buttons in *flags.
std::string ChangeQuestion(const store::ProgramChange& plan, int* flags) {
  const std::string& e = plan.extension;
  std::string text = "Расширение " + e + " будет открываться другой программой." + kCrLf +
                     "Было: " + (plan.oldCommand.empty() ? "(команды нет)" : plan.oldCommand) + kCrLf +
                     "Станет: " + plan.newCommand + kCrLf;
  if (plan.sharing.empty()) {
    *flags = MB_YESNO | MB_ICONQUESTION;
    return text + "Изменить?";
  }
  *flags = MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2;
  return text + "Описание " + plan.title + " общее: той же программой станут открываться и " +
         store::NameList(plan.sharing) + "." + kCrLf + "Да — изменить для всех, Нет — только для " + e +
         " (у него будет своё описание), Отмена — ничего не менять.";
}

}  // namespace

void frmZandrel::lvwAsso_DblClick() { EditProgram(); }

void frmZandrel::EditProgram() {
  const ui::ListItem* row = lvwAsso.SelectedItem();
  // Only from list mode, idle: a listing under way has the commands off.
  if (row == nullptr || !lvwAsso.Visible() || !cmdList.Enabled()) return;
  OpenEntryFrame();
  txtFileExt.SetText(FieldText(*row, kExtension));
  txtTitleRef.SetText(FieldText(*row, kDescription));
  txtFileExt.SetLocked(true);
  txtTitleRef.SetLocked(true);
  txtExecutableFileSpec.SetText("");  // the row shows a command, not a program's path
  lvwAsso.SetVisible(false);
  fraAsso.SetCaption(kChangeCaption);
  txtExecutableFileSpec.SetFocus();
}

void frmZandrel::LeaveProgramChange() {
  txtFileExt.SetLocked(false);
  txtTitleRef.SetLocked(false);
  fraAsso.SetCaption(kAddCaption);
}

void frmZandrel::ChangeProgram() {
  store::ProgramChangeFields fields{txtFileExt.Text(), txtExecutableFileSpec.Text(), true};
  const store::ProgramChange plan = store::PlanProgramChange(registry_, fields, desktop_);
  // Refused, or nothing to do: the frame stays, for another program or Cancel.
  if (!plan.refusal.empty() || plan.unchanged) {
    prompter_.MsgBox(plan.unchanged ? store::ProgramChangeLines(plan).front() : plan.refusal, MB_OK);
    return;
  }
  int flags = 0;
  const std::string question = ChangeQuestion(plan, &flags);
  const int answer = prompter_.MsgBox(question, flags);
  if (answer == IDCANCEL || (plan.sharing.empty() && answer != IDYES)) return;
  fields.everyExtension = answer == IDYES;
  if (history_ != nullptr) history_->Describe("set", plan.extension);
  const store::ProgramChange change = store::ChangeProgram(registry_, fields, desktop_);
  if (history_ != nullptr) history_->Describe("", "");  // a refusal before the writes leaves it unused
  if (!change.refusal.empty()) {
    prompter_.MsgBox(change.refusal, MB_OK);
  } else {
    std::string done = "Всё прошло успешно.";
    for (const std::string& line : store::ProgramChangeLines(change)) done += kCrLf + line;
    prompter_.MsgBox(done, MB_OK);
    store::OfferSettings({change.stillNote, change.stillQuestion}, prompter_);
  }
  // Several extensions changed: the desktop is told of no single one.
  const bool several = fields.everyExtension && !change.sharing.empty();
  if (change.wrote) DesktopFollows(several ? "" : fields.fileExt, change.committed);
  if (!change.committed) return;
  LeaveProgramChange();
  if (cbxUpdateList.Value() != 1) return;
  cmdList_Click();
  // The row changed stays the selected one, in view, showing its new command.
  for (std::size_t i = 0; i < lvwAsso.Count(); ++i)
    if (FieldText(lvwAsso.Items()[i], kExtension) == fields.fileExt) lvwAsso.Select(static_cast<long>(i));
}

}  // namespace zandrel::manager
