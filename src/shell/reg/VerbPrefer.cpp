// zandrel-reg prefer APP: APP opens every file type it declares (on Windows a
// registered application's extensions, on Linux a desktop entry's types), as
// one change kept in the history, so that undo brings every old default back.
// What APP is and where its declaration lives is the desktop's
// (integration::Desktop::Prefer).
#include <string>
#include <vector>

#include "shell/reg/Verb.h"

namespace zandrel::shell::reg {
namespace {

bool Check(const std::vector<std::string>& args) {
  if (!args[0].empty()) return true;
  Fail(Usage());
  return false;
}

int Prefer(Call& call) {
  const std::string& app = call.args[0];
  call.stack->History().Describe("prefer", app);
  integration::Desktop& desktop = call.stack->Desktop();
  std::vector<std::string> lines;
  const status::Status done = desktop.Prefer(desktop.Classes(), app, &lines);
  // An application that already opened all it declares kept nothing.
  call.changed = call.stack->History().LastNumber() != 0;
  if (!WriteLines(lines)) return Fail("cannot write the output");
  return done.Ok() ? 0 : Fail(done.message);
}

}  // namespace

Verb PreferVerb() {
  return {.name = "prefer",
          .arguments = "APP",
          .help = "APP opens every file type it declares (Windows: a registered application; Linux: a desktop entry)",
          .least = 1,
          .most = 1,
          .opens = Opens::kRead,
          .recordsHistory = true,
          .followsDesktop = true,
          .check = Check,
          .run = Prefer};
}

}  // namespace zandrel::shell::reg
