// zandrel-reg set .EXT PROGRAM [--all]: .EXT opens with PROGRAM
// (store/ProgramChange.h), kept in the history so that undo brings the old
// program back. A title shared with other extensions changes for them too
// only with --all: otherwise .EXT gets a title of its own, so that one
// command changes one file type.
#include <string>
#include <vector>

#include "shell/reg/Verb.h"
#include "store/KeyRoutines.h"
#include "store/ProgramChange.h"

namespace zandrel::shell::reg {
namespace {

constexpr const char* kAll = "--all";

bool Check(const std::vector<std::string>& args) {
  if (args.size() == 2 || args[2] == kAll) return true;
  Fail(Usage());
  return false;
}

int Set(Call& call) {
  const store::ProgramChangeFields fields{call.args[0], call.args[1], call.args.size() == 3};
  const std::string e = store::PrepareExtension(fields.fileExt);
  // No store, no extension of its own to change: none is made to find that.
  if (call.stack == nullptr) return Fail(store::NoSuchExtension(e));
  call.stack->History().Describe("set", e);
  integration::Desktop& desktop = call.stack->Desktop();
  const store::ProgramChange change = store::ChangeProgram(desktop.Classes(), fields, &desktop);
  if (!change.refusal.empty()) return Fail(change.refusal);
  call.changed = !change.unchanged;
  return WriteLines(store::ProgramChangeLines(change)) ? 0 : Fail("cannot write the output");
}

}  // namespace

Verb SetVerb() {
  return {.name = "set",
          .arguments = ".EXT PROGRAM [--all]",
          .help = ".EXT opens with PROGRAM; a title other extensions share changes for them too only with --all",
          .least = 2,
          .most = 3,
          .opens = Opens::kExisting,
          .recordsHistory = true,
          .followsDesktop = true,
          .check = Check,
          .run = Set};
}

}  // namespace zandrel::shell::reg
