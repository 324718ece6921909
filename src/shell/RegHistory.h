// zandrel-reg's history and undo verbs, and the history an import leaves.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "regfile/RegFile.h"
#include "store/ChangeUndo.h"
#include "store/HistoryRegistry.h"

namespace zandrel::shell {

// Writes text to standard output (1) or error (2); false when that fails.
using StreamWriter = std::function<bool(int stream, const std::string& text)>;

// `zandrel-reg history`: the kept changes, newest first, one a line.
int ShowHistory(IRegistry& registry, const StreamWriter& write);

// `zandrel-reg undo [N]` and `zandrel-reg redo`: without `number`, the
// newest change of `which` (store/ChangeUndo.h); a number given must be one,
// "" included. `after` runs once an undo has committed (the desktop's files
// brought in line) and gives "" or what went wrong.
int UndoFromCommandLine(store::HistoryRegistry& history, const std::optional<std::string>& number,
                        store::Newest which, const StreamWriter& write, const std::function<std::string()>& after);

// A registry's own application of an import's changes (`apply`, which its
// calls do not see) with the state of every key it reaches noted first, so
// that the import is kept in the history as one through the calls would be.
regfile::ChangesApply NotingApply(store::HistoryRegistry& history, regfile::ChangesApply apply);

}  // namespace zandrel::shell
