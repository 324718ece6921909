// zandrel-reg check [--json] [--remove] [.EXT ...]: the associations that
// open nothing here (store::FindBrokenAssociations, then the desktop's own),
// a line each or a JSON array. Status 0 when none is broken, 1 when some
// are, 2 when the store could not be read or a named extension has no
// association. With --remove, what Zandrel may remove goes as one change of
// the history (store::RemoveBrokenAssociations), a line for each finding
// removed or kept; status 0 when none of those asked about is left broken,
// 1 when some are kept.
#include <limits>
#include <string>

#include "store/BrokenAssociations.h"
#include "store/BrokenCleanUp.h"
#include "shell/reg/Verb.h"
#include "text/Utf.h"

namespace zandrel::shell::reg {
namespace {

constexpr int kError = 2;

int Error(const std::string& message) {
  Fail(message);
  return kError;
}

// `text` as a JSON string: quotes, backslashes and control characters
// escaped, other characters kept as UTF-8 (a malformed byte as U+FFFD).
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    long cp = 0;
    const std::size_t n = text::DecodeUtf8(text, i, &cp);
    i += n;
    switch (cp) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\b': out += "\\b"; continue;
      case '\f': out += "\\f"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      default: break;
    }
    if (cp >= 0 && cp < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[cp >> 4];
      out += kHex[cp & 15];
    } else {
      text::AppendUtf8(cp < 0 ? 0xFFFD : cp, &out);
    }
  }
  return out + "\"";
}

std::string Json(const std::vector<store::BrokenAssociation>& broken) {
  std::string out = "[";
  for (const store::BrokenAssociation& b : broken) {
    out += out.size() == 1 ? "\n" : ",\n";
    out += "  {\"extension\": " + JsonString(b.extension) + ", \"reason\": " + JsonString(b.reason) +
           ", \"detail\": " + JsonString(b.detail) + ", \"where\": " + JsonString(b.where) +
           ", \"removable\": " + (b.removable ? "true" : "false") + "}";
  }
  return out + (broken.empty() ? "]" : "\n]") + "\n";
}

// Removes what Zandrel may of `found`, prints a line for each finding, and
// has the desktop follow a change that was made.
int Remove(Call& call, const std::vector<std::string>& extensions, const store::CheckResult& found) {
  std::string subject;
  for (const std::string& e : extensions) subject += (subject.empty() ? "" : " ") + e;
  capture::HistoryRegistry& history = call.stack->History();
  history.Describe("remove-broken", subject);
  integration::Desktop& desktop = call.stack->Desktop();
  const store::CleanUp cleaned = store::RemoveBrokenAssociations(desktop.Classes(), found.broken, &desktop);
  if (cleaned.removed.empty()) history.Describe("", "");  // no change was made to be named
  if (!cleaned.failure.empty()) return Error(cleaned.failure);
  std::vector<std::string> lines;
  for (const store::BrokenAssociation& b : cleaned.removed) lines.push_back(store::RemovedLine(b));
  lines.insert(lines.end(), cleaned.titles.begin(), cleaned.titles.end());
  for (std::size_t i = 0; i < cleaned.kept.size(); ++i)
    lines.push_back(store::KeptLine(cleaned.kept[i], cleaned.keptWhy[i]));
  for (const store::BrokenAssociation& b : cleaned.mended) lines.push_back(store::MendedLine(b));
  if (!WriteLines(lines)) return Error("cannot write the output");
  if (!cleaned.removed.empty()) {
    // The desktop follows the store, as after set.
    if (const integration::Followed followed = desktop.AfterChange("", true); !followed.error.empty())
      return Error(followed.error);
  }
  for (const std::string& e : found.unknown) Fail(store::NoAssociation(e));
  return !found.unknown.empty() ? kError : cleaned.kept.empty() ? 0 : 1;
}

int Check(Call& call) {
  bool json = false, remove = false;
  std::vector<std::string> extensions;
  for (const std::string& arg : call.args) {
    if (arg == "--json") json = true;
    else if (arg == "--remove") remove = true;
    else if (!arg.empty() && arg[0] == '.') extensions.push_back(arg);
    else return Error("not an extension: \"" + arg + "\" (give it with its dot, as .txt)");
  }
  if (json && remove) return Error("--json and --remove do not go together");
  assembly::Options options;
  options.viewAhead = true;
  const assembly::Mode mode = remove ? assembly::Mode::kWrite : assembly::Mode::kRead;
  if (const status::Status opened = assembly::Open(mode, &call.stack, options); !opened.Ok())
    return Error(opened.message);
  integration::Desktop& desktop = call.stack->Desktop();
  store::ProgramProbe probe;
  const store::CheckResult result = store::FindBrokenAssociations(desktop.Classes(), extensions, &desktop, probe);
  if (!result.failure.empty()) return Error(result.failure);
  if (!desktop.ViewError().empty()) Fail(ViewUnread(desktop.ViewError()) + ": only Zandrel's own keys are checked");
  if (remove) return Remove(call, extensions, result);
  std::string out;
  if (json) {
    out = Json(result.broken);
  } else {
    for (const store::BrokenAssociation& broken : result.broken) out += store::BrokenLine(broken) + LineEnd();
  }
  if (!Write(1, out)) return Error("cannot write the output");
  for (const std::string& e : result.unknown) Fail(store::NoAssociation(e));
  return !result.unknown.empty() ? kError : result.broken.empty() ? 0 : 1;
}

}  // namespace

Verb CheckVerb() {
  return {.name = "check",
          .arguments = "[--remove] [.EXT ...]",
          .help =
              "the associations that open nothing here, with --json as JSON; status 1 when there are some; "
              "--remove removes those Zandrel may, as one change to undo",
          .least = 0,
          .most = std::numeric_limits<std::size_t>::max() - 1,
          .opens = Opens::kNothing,
          .run = Check};
}

}  // namespace zandrel::shell::reg
