// zandrel-reg why .EXT: what decides the program that opens .EXT here, as the
// desktop tells it (integration::Desktop::Explain): on Linux the desktop's
// chain, on Windows the classes keys, the user's choice and the command
// Explorer runs.
#include <cstdio>
#include <string>

#include "shell/reg/Verb.h"

namespace zandrel::shell::reg {
namespace {

// The extension of a file named "x" + `arg`: "..png" is ".png"; "" when
// `arg` is none (no dot first, nothing after the dots, or a character no
// file name's extension holds: a separator of keys or folders, a control).
std::string WhyExtension(const std::string& arg) {
  const std::size_t dots = arg.find_first_not_of('.');
  if (arg.empty() || arg[0] != '.' || dots == std::string::npos) return "";
  for (const unsigned char c : arg)
    if (c == '\\' || c == '/' || c < 0x20 || c == 0x7F) return "";
  return arg.substr(dots - 1);
}

// `arg` with its control characters as \xNN, to be shown on one line.
std::string Shown(const std::string& arg) {
  std::string out;
  for (const unsigned char c : arg) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c < 0x20 || c == 0x7F ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return out;
}

bool Check(const std::vector<std::string>& args) {
  if (!WhyExtension(args[0]).empty()) return true;
  Fail("not an extension: \"" + Shown(args[0]) + "\" (give it with its dot, as .txt)");
  return false;
}

int Why(Call& call) {
  std::string out;
  const status::Status explained = call.stack->Desktop().Explain(WhyExtension(call.args[0]), &out);
  // Through the one output path: a console shows Cyrillic titles right.
  const bool written = Write(1, out);
  if (!explained.Ok()) return Fail(explained.message);
  return written ? 0 : Fail("cannot write the output");
}

}  // namespace

Verb WhyVerb() {
  return {.name = "why",
          .arguments = ".EXT",
          .help = "what decides the program that opens .EXT here",
          .least = 1,
          .most = 1,
          .opens = Opens::kLook,
          .check = Check,
          .run = Why};
}

}  // namespace zandrel::shell::reg
