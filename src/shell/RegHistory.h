// zandrel-reg's history and undo verbs, and the history an import leaves.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "store/ChangeUndo.h"
#include "capture/HistoryRegistry.h"

namespace zandrel::shell {

// Writes text to standard output (1) or error (2); false when that fails.
using StreamWriter = std::function<bool(int stream, const std::string& text)>;

// `zandrel-reg history`: the kept changes, newest first, one a line.
int ShowHistory(IRegistry& registry, const StreamWriter& write);

// The change `zandrel-reg undo N` names, into *change (0 without `number`);
// false, with its line written, when `number` is none ("" included). Checked
// before the hive is opened.
bool UndoNumber(const std::optional<std::string>& number, const StreamWriter& write, unsigned* change);

// `zandrel-reg undo [N]` and `zandrel-reg redo`: change `change` (UndoNumber),
// or without one the newest change of `which` (store/ChangeUndo.h). `after`
// runs once an undo has committed (the desktop's files brought in line) and
// gives "" or what went wrong. With no `history` (there is no hive), what an
// empty history answers, and no hive is made.
int UndoFromCommandLine(capture::HistoryRegistry* history, unsigned change, store::Newest which,
                        const StreamWriter& write, const std::function<std::string()>& after);

}  // namespace zandrel::shell
