// zandrel-reg desktop: brings the desktop's own association data in line with
// the store, where the desktop keeps such data (Linux). It writes the
// desktop's files from the store, never the store.
#include <string>

#include "shell/reg/Verb.h"

namespace zandrel::shell::reg {
namespace {

int Desktop(Call& call) {
  std::string summary;
  if (const status::Status projected = assembly::Project(*call.stack, &summary); !projected.Ok())
    return Fail(projected.message);
  return Write(1, summary) ? 0 : Fail("cannot write the output");
}

}  // namespace

Verb DesktopVerb() {
  return {.name = "desktop",
          .arguments = "",
          .help = "brings the desktop's associations in line with the store",
          .least = 0,
          .most = 0,
          .opens = Opens::kRead,
          .run = Desktop,
          .available = assembly::DesktopKeepsOwnData};
}

}  // namespace zandrel::shell::reg
