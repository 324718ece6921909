#include "shell/RegHistory.h"

#include <vector>

#include "store/ChangeRefusal.h"

namespace zandrel::shell {

int ShowHistory(IRegistry& registry, const StreamWriter& write) {
  std::vector<capture::HistoryEntry> entries;
  if (const LONG code = capture::ReadHistory(registry, &entries); code != ERROR_SUCCESS) {
    const std::string why = store::RefusalText(code);
    write(2, "zandrel-reg: история изменений не читается (ошибка реестра " + std::to_string(code) + ")" +
                 (why.empty() ? "" : ". " + why) + "\n");
    return 1;
  }
  std::string out = entries.empty() ? "История изменений пуста.\n" : "";
  for (const capture::HistoryEntry& entry : entries) out += capture::HistoryLine(entry) + "\n";
  return write(1, out) ? 0 : 1;
}

bool UndoNumber(const std::optional<std::string>& number, const StreamWriter& write, unsigned* change) {
  *change = 0;
  if (!number) return true;
  const bool digits =
      !number->empty() && number->size() <= 9 && number->find_first_not_of("0123456789") == std::string::npos;
  *change = digits ? static_cast<unsigned>(std::stoul(*number)) : 0;
  if (*change != 0) return true;
  write(2, "zandrel-reg: \"" + *number + "\" не номер изменения (номера показывает zandrel-reg history)\n");
  return false;
}

int UndoFromCommandLine(capture::HistoryRegistry* history, unsigned change, store::Newest which,
                        const StreamWriter& write, const std::function<std::string()>& after) {
  store::UndoOutcome outcome;
  outcome.change = change;
  if (history != nullptr) outcome = store::UndoChange(*history, change, {}, which);
  else if (change != 0) outcome.result = store::UndoOutcome::Result::kUnknown;
  else if (which == store::Newest::kUndo) outcome.result = store::UndoOutcome::Result::kNothingToRedo;
  const std::string message = store::UndoMessage(outcome);
  if (outcome.result != store::UndoOutcome::Result::kUndone) {
    write(2, "zandrel-reg: " + message + "\n");
    return 1;
  }
  if (!write(1, message + "\n")) return 1;
  const std::string error = after ? after() : "";
  if (error.empty()) return 0;
  write(2, "zandrel-reg: " + error + "\n");
  return 1;
}

}  // namespace zandrel::shell
