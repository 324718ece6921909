#include "shell/reg/Verb.h"

#include <algorithm>
#include <functional>

namespace zandrel::shell::reg {
namespace {

std::vector<Verb> Verbs() {
  std::vector<Verb> verbs;
  for (const Verb& verb : {ImportVerb(), ExportVerb(), QueryVerb(), SetVerb(), PreferVerb(), DesktopVerb(), WhyVerb(),
                           CheckVerb(), HistoryVerb(), UndoVerb(), RedoVerb()})
    if (verb.available == nullptr || verb.available()) verbs.push_back(verb);
  return verbs;
}

std::string Shape(const Verb& verb) { return verb.name + (*verb.arguments ? " " + std::string(verb.arguments) : ""); }

// What --help prints, on standard output: the usage line, then a line per verb.
std::string Help() {
  std::size_t column = 0;  // where each verb's text begins, after "  ": two spaces past the longest shape
  for (const Verb& verb : Verbs()) column = std::max(column, Shape(verb).size() + 2);
  std::string help = Usage() + "\n";
  for (const Verb& verb : Verbs()) {
    const std::string shape = Shape(verb);
    help += "  " + shape + std::string(column - shape.size(), ' ') + verb.help + "\n";
  }
  return help;
}

}  // namespace

int Fail(const std::string& message) {
  Write(2, "zandrel-reg: " + message + "\n");
  return 1;
}

bool WriteLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + LineEnd();
  return out.empty() || Write(1, out);
}

std::string Usage() {
  std::string usage;
  for (const Verb& verb : Verbs()) usage += (usage.empty() ? "" : " | ") + Shape(verb);
  return "usage: zandrel-reg " + usage;
}

std::string ViewUnread(const std::string& why) { return "the desktop's associations could not be read (" + why + ")"; }

int Run(const std::vector<std::string>& args) {
  const std::string name = args.empty() ? "" : args[0];
  if (name == "--help" || name == "-h" || name == "/?") return Write(1, Help()) ? 0 : Fail("cannot write the output");
  const std::vector<Verb> verbs = Verbs();
  const Verb* verb = nullptr;
  for (const Verb& v : verbs)
    if (name == v.name) verb = &v;
  if (verb == nullptr || args.size() - 1 < verb->least || args.size() - 1 > verb->most) return Fail(Usage());
  Call call{std::vector<std::string>(args.begin() + 1, args.end()), nullptr};
  if (verb->check != nullptr && !verb->check(call.args)) return 1;
  if (verb->opens != Opens::kNothing && (verb->opens != Opens::kExisting || assembly::StoreExists())) {
    const assembly::Mode mode = verb->recordsHistory          ? assembly::Mode::kWrite
                                : verb->opens == Opens::kLook ? assembly::Mode::kLook
                                                              : assembly::Mode::kRead;
    if (const status::Status opened = assembly::Open(mode, &call.stack); !opened.Ok()) return Fail(opened.message);
  }
  const int code = verb->run(call);
  if (code != 0 || !verb->followsDesktop || !call.changed || call.stack == nullptr) return code;
  // The desktop follows the store, as after an add or a removal in the window.
  const integration::Followed followed = call.stack->Desktop().AfterChange("", true);
  return followed.error.empty() ? 0 : Fail(followed.error);
}

}  // namespace zandrel::shell::reg
