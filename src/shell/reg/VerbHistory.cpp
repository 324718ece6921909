// zandrel-reg history: the changes kept, newest first, one a line.
#include <string>
#include <vector>

#include "shell/reg/Verb.h"
#include "capture/ChangeHistory.h"
#include "store/ChangeRefusal.h"

namespace zandrel::shell::reg {
namespace {

int History(Call& call) {
  std::vector<capture::HistoryEntry> entries;
  if (const LONG code = capture::ReadHistory(call.stack->Store(), &entries); code != ERROR_SUCCESS) {
    const std::string why = store::RefusalText(code);
    Write(2, "zandrel-reg: история изменений не читается (ошибка реестра " + std::to_string(code) + ")" +
                 (why.empty() ? "" : ". " + why) + "\n");
    return 1;
  }
  std::string out = entries.empty() ? "История изменений пуста.\n" : "";
  for (const capture::HistoryEntry& entry : entries) out += capture::HistoryLine(entry) + "\n";
  return Write(1, out) ? 0 : 1;
}

}  // namespace

Verb HistoryVerb() {
  return {.name = "history",
          .arguments = "",
          .help = "the changes kept, newest first",
          .least = 0,
          .most = 0,
          .opens = Opens::kRead,
          .run = History};
}

}  // namespace zandrel::shell::reg
