// zandrel-reg import FILE: a .reg file in, all or nothing, kept in the
// history. Into a store that does not exist yet, the file goes in while the
// new store is still private: written once, and all or nothing all the same
// (a file that fails leaves no store). Lines that would touch the history are
// left out, and named after a successful import, as regedit names the lines
// whose value it leaves out.
#include <string>
#include <vector>

#include "regfile/RegFile.h"
#include "shell/reg/Verb.h"
#include "store/ChangeRefusal.h"

namespace zandrel::shell::reg {
namespace {

// The first kShownNotes notes are shown, then their count.
constexpr std::size_t kShownNotes = 20;

// What the import ends in: 0, or 1 with its message, followed by why the
// registry refused it when it said so (`refusal`, store/ChangeRefusal.h).
int Imported(const status::Status& imported, const std::vector<std::string>& notes, const std::string& file,
             const std::string& refusal = "") {
  if (!imported.Ok()) return Fail(imported.message + (refusal.empty() ? "" : ". " + refusal));
  for (std::size_t i = 0; i < notes.size() && i < kShownNotes; ++i) Write(2, "zandrel-reg: " + notes[i] + "\n");
  if (notes.size() > kShownNotes)
    Write(2, "zandrel-reg: " + file + ": " + std::to_string(notes.size() - kShownNotes) + " more lines not imported\n");
  return 0;
}

int Import(Call& call) {
  const std::string& file = call.args[0];
  std::vector<std::string> notes;
  std::string refusal;
  const auto import_into = [&file, &notes, &refusal](assembly::Stack& stack) {
    capture::HistoryRegistry& history = stack.History();
    history.Describe("import", file);
    notes.clear();
    history.NoteLeftOut(&notes, file);
    // Another writer shows at the transaction's start, which passes the watch.
    store::RefusalWatch watched(history);
    const status::Status imported = regfile::ImportRegFile(watched, file, &notes);
    refusal = stack.ChangesRefusedUnread() ? "Why: " + stack.Desktop().ViewError() : watched.Text();
    return imported;
  };
  bool built = false;
  const status::Status opened = assembly::OpenBuilding(import_into, &built, &call.stack);
  if (built) return Imported(status::Status(), notes, file);  // the new store holds the file
  if (!opened.Ok()) return Fail(opened.message);              // also the failure of the file in a new store
  const status::Status imported = import_into(*call.stack);
  return Imported(imported, notes, file, refusal);
}

}  // namespace

Verb ImportVerb() {
  return {.name = "import",
          .arguments = "FILE",
          .help = "a .reg file in, all or nothing; lines that would touch the history are left out",
          .least = 1,
          .most = 1,
          .opens = Opens::kNothing,
          .recordsHistory = true,
          .followsDesktop = true,
          .run = Import};
}

}  // namespace zandrel::shell::reg
