// zandrel-reg export KEY FILE: the key's subtree out as a .reg file (Version
// 5.00, UTF-16LE). An export is a backup of what Zandrel holds: the store's
// own keys, never the desktop's, which are the desktop's to keep and, imported
// back, would hide its associations for good. A key that is the desktop's
// alone is named as such.
#include <string>

#include "files/FileReplace.h"
#include "regfile/RegFile.h"
#include "registry/Key.h"
#include "shell/reg/Verb.h"

namespace zandrel::shell::reg {
namespace {

int Export(Call& call) {
  const std::string& key_path = call.args[0];
  const std::string& file = call.args[1];
  assembly::Stack& stack = *call.stack;
  IRegistry& registry = stack.Store();
  HKEY root = 0;
  std::string sub;
  if (registry::ParseKeyPath(key_path, &root, &sub) && !sub.empty() &&
      registry::Key(registry).Open(root, sub) == ERROR_FILE_NOT_FOUND) {
    if (stack.Desktop().KeyIsDesktops(root, sub))
      return Fail("the key \"" + key_path + "\" is the desktop's own association, which an export leaves out");
    // Not the store's: whether it is the desktop's cannot be told.
    if (const std::string why = stack.Desktop().ViewError(); !why.empty()) Fail(ViewUnread(why));
  }
  std::string bytes;
  stack.PrepareWalk();
  const status::Status exported = regfile::ExportRegText(registry, key_path, &bytes);
  if (!exported.Ok()) return Fail(exported.message);
  const status::Status written = files::ReplaceFileWhole(file, bytes);
  if (!written.Ok()) return Fail(file + ": " + written.message);
  return 0;
}

}  // namespace

Verb ExportVerb() {
  return {.name = "export",
          .arguments = "KEY FILE",
          .help = "the key's subtree out as a .reg file (on Linux the hive's keys, not the desktop's)",
          .least = 2,
          .most = 2,
          .opens = Opens::kRead,
          .run = Export};
}

}  // namespace zandrel::shell::reg
