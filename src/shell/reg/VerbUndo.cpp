// zandrel-reg undo [N]: undoes change N, or the newest change neither undone
// nor an undo (so that undos walk back); zandrel-reg redo: undoes the newest
// undo not yet undone. Without a store there is nothing to undo, and none is
// made.
#include <optional>
#include <string>

#include "shell/reg/Verb.h"
#include "store/ChangeUndo.h"

namespace zandrel::shell::reg {
namespace {

// The change `undo N` names (0 without N); false, with its line written,
// when N is none ("" included). Checked before the store is opened.
bool ChangeNumber(const std::vector<std::string>& args, unsigned* change) {
  *change = 0;
  if (args.empty()) return true;
  const std::string& number = args[0];
  const bool digits =
      !number.empty() && number.size() <= 9 && number.find_first_not_of("0123456789") == std::string::npos;
  *change = digits ? static_cast<unsigned>(std::stoul(number)) : 0;
  if (*change != 0) return true;
  Write(2, "zandrel-reg: \"" + number + "\" не номер изменения (номера показывает zandrel-reg history)\n");
  return false;
}

bool Check(const std::vector<std::string>& args) {
  unsigned change = 0;
  return ChangeNumber(args, &change);
}

// Change `change`, or without one the newest change of `which`
// (store/ChangeUndo.h); with no stack (there is no store), what an empty
// history answers.
int Undo(Call& call, store::Newest which) {
  unsigned change = 0;
  ChangeNumber(call.args, &change);
  store::UndoOutcome outcome;
  outcome.change = change;
  if (call.stack != nullptr) outcome = store::UndoChange(call.stack->History(), change, {}, which);
  else if (change != 0) outcome.result = store::UndoOutcome::Result::kUnknown;
  else if (which == store::Newest::kUndo) outcome.result = store::UndoOutcome::Result::kNothingToRedo;
  const std::string message = store::UndoMessage(outcome);
  if (outcome.result != store::UndoOutcome::Result::kUndone) return Fail(message);
  return WriteLines({message}) ? 0 : 1;
}

int UndoChange(Call& call) { return Undo(call, store::Newest::kChange); }
int RedoChange(Call& call) { return Undo(call, store::Newest::kUndo); }

}  // namespace

Verb UndoVerb() {
  return {.name = "undo",
          .arguments = "[N]",
          .help = "undoes change N, or the newest change neither undone nor an undo",
          .least = 0,
          .most = 1,
          .opens = Opens::kExisting,
          .recordsHistory = true,
          .followsDesktop = true,
          .check = Check,
          .run = UndoChange};
}

Verb RedoVerb() {
  return {.name = "redo",
          .arguments = "",
          .help = "undoes the newest undo not yet undone",
          .least = 0,
          .most = 0,
          .opens = Opens::kExisting,
          .recordsHistory = true,
          .followsDesktop = true,
          .run = RedoChange};
}

}  // namespace zandrel::shell::reg
