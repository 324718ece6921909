// The manager window's check of the associations: the list's rows that open
// nothing here drawn dimmed, and the list's menu entry "Проверить ассоциации",
// which names them (store/BrokenAssociations.h) and offers to remove those
// Zandrel may (store/BrokenCleanUp.h) as one change of the history.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "manager/AssociationColumns.h"
#include "manager/frmZandrel.h"
#include "store/BrokenAssociations.h"
#include "store/BrokenCleanUp.h"

namespace zandrel::manager {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr RowField kExtension = &store::AssociationRow::extension;
// The findings a box names one by one; the rest it counts.
constexpr std::size_t kLinesShown = 10;
// The history's name of the clean-up, as zandrel-reg check --remove gives it
// (no subject: every association was checked).
constexpr const char* kCleanUpKind = "remove-broken";

// Extension keys are named without case (ASCII letters).
std::string Folded(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name;
}

// Up to kLinesShown of `findings`, a line each as `line` makes it from the
// finding's place, and then how many more there are.
template <typename Line>
std::string Lines(const std::vector<store::BrokenAssociation>& findings, Line line) {
  std::string text;
  for (std::size_t i = 0; i < findings.size() && i < kLinesShown; ++i) text += (i == 0 ? "" : kCrLf) + line(i);
  if (findings.size() > kLinesShown)
    text += kCrLf + std::string("…и ещё ") + std::to_string(findings.size() - kLinesShown);
  return text;
}

// The closing message: how many went, and where each one left lives, with
// why when it is Zandrel's own and still stays (an extension Windows runs itself).
std::string Removed(const store::CleanUp& cleanUp) {
  std::string text = "Удалено неработающих ассоциаций: " + std::to_string(cleanUp.removed.size()) + ".";
  if (cleanUp.kept.empty()) return text;
  return text + kCrLf + kCrLf + "Не удалены:" + kCrLf + Lines(cleanUp.kept, [&cleanUp](std::size_t i) {
           const store::BrokenAssociation& b = cleanUp.kept[i];
           const std::string why = i < cleanUp.keptWhy.size() ? cleanUp.keptWhy[i] : "";
           return store::BrokenLine(b) + " — " + b.where + (why.empty() ? "" : " (" + why + ")");
         });
}

}  // namespace

std::vector<ui::ListItem> frmZandrel::MarkBroken(std::vector<ui::ListItem> items) {
  store::ProgramProbe probe;  // one a listing: each program is looked for once
  const store::CheckResult found = store::FindBrokenAssociations(registry_, {}, desktop_, probe);
  // A store the check cannot read marks nothing: the listing has shown what it read.
  std::unordered_set<std::string> broken;
  for (const store::BrokenAssociation& b : found.broken) broken.insert(Folded(b.extension));
  if (broken.empty()) return items;
  for (ui::ListItem& item : items) item.dimmed = broken.count(Folded(FieldText(item, kExtension))) != 0;
  return items;
}

void frmZandrel::CheckAssociations() {
  // Only from list mode, idle: the entry frame's modes end by their own buttons.
  if (!lvwAsso.Visible() || !cmdList.Enabled() || undoing_) return;
  store::ProgramProbe probe;
  const store::CheckResult found = store::FindBrokenAssociations(registry_, {}, desktop_, probe);
  if (!found.failure.empty()) {
    prompter_.MsgBox(found.failure, MB_OK);
    return;
  }
  if (found.broken.empty()) {
    prompter_.MsgBox("Неработающих ассоциаций не найдено.", MB_OK | MB_ICONINFORMATION);
    return;
  }
  const bool removable = std::any_of(found.broken.begin(), found.broken.end(),
                                     [](const store::BrokenAssociation& b) { return b.removable; });
  const std::string text = "Неработающих ассоциаций: " + std::to_string(found.broken.size()) + kCrLf + kCrLf +
                           Lines(found.broken, [&found](std::size_t i) { return store::BrokenLine(found.broken[i]); }) +
                           kCrLf + kCrLf;
  if (!removable) {
    prompter_.MsgBox(text + "Удалить их Zandrel не может: они записаны не в его хранилище.",
                     MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (prompter_.MsgBox(text + "Удалить неработающие?", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
  if (history_ != nullptr) history_->Describe(kCleanUpKind, "");
  const store::CleanUp cleanUp = store::RemoveBrokenAssociations(registry_, found.broken, desktop_);
  if (history_ != nullptr) history_->Describe("", "");  // a clean-up that writes nothing leaves it unused
  if (!cleanUp.failure.empty()) {
    prompter_.MsgBox(cleanUp.failure, MB_OK);  // it says that nothing was removed
    return;
  }
  if (!cleanUp.removed.empty()) ShowList(false);
  prompter_.MsgBox(Removed(cleanUp), MB_OK);
  // Several extensions changed: the desktop is told of no single one.
  if (!cleanUp.removed.empty()) DesktopFollows("", true);
}

}  // namespace zandrel::manager
