// Commands both ways: a Windows command line as a desktop entry's Exec
// value, and an Exec value as the command the writer would have written.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "freedesktop/DesktopMapping.h"

namespace zandrel::freedesktop {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

bool NeedsQuotes(const std::string& arg) {
  if (arg.empty()) return true;
  for (char c : arg)
    if (std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos) return true;
  return false;
}

std::string Percents(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

// One literal argument of an Exec line.
std::string ExecArgument(const std::string& arg) {
  if (!NeedsQuotes(arg)) return Percents(arg);
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c == '%' ? std::string("%%") : std::string(1, c);
  }
  return out + "\"";
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool inWord = false, quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (IsSpace(c) && !quoted) {
      if (inWord) args.push_back(current);
      current.clear();
      inWord = false;
    } else {
      current += c;
      inWord = true;
    }
  }
  if (inWord) args.push_back(current);
  return args;
}

// The words of an Exec value by the Desktop Entry rules: blanks separate,
// double quotes group, and inside them a backslash makes the next character
// literal. A word that was quoted is marked, as field codes do not work there.
struct ExecWord {
  std::string text;
  bool quoted = false;
};
std::optional<std::vector<ExecWord>> SplitExec(const std::string& exec) {
  std::vector<ExecWord> words;
  ExecWord current;
  bool inWord = false, inQuotes = false;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (inQuotes) {
      if (c == '"') inQuotes = false;
      else if (c == '\\' && i + 1 < exec.size()) current.text += exec[++i];
      else current.text += c;
    } else if (c == '"') {
      inQuotes = inWord = current.quoted = true;
    } else if (IsSpace(c)) {
      if (inWord) words.push_back(std::move(current));
      current = ExecWord{};
      inWord = false;
    } else {
      current.text += c;
      inWord = true;
    }
  }
  if (inQuotes) return std::nullopt;
  if (inWord) words.push_back(std::move(current));
  return words;
}

// One argument of a Windows command line: quoted when it holds a blank or is
// empty, with its own quotes escaped.
std::string WindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  for (char c : arg) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

std::string ExecProgram(const std::string& exec) {
  const std::optional<std::vector<ExecWord>> words = SplitExec(exec);
  return words && !words->empty() ? words->front().text : "";
}

std::string CommandFromExec(const std::string& exec, const EntryFacts& facts) {
  const std::optional<std::vector<ExecWord>> words = SplitExec(exec);
  if (!words || words->empty() || facts.program.empty()) return "";
  std::string line = "\"";
  line += facts.program;
  line += '"';
  for (std::size_t w = 1; w < words->size(); ++w) {
    const ExecWord& word = (*words)[w];
    if (word.quoted) {  // field codes are not expanded inside quotes; %% still is
      std::string text;
      for (std::size_t i = 0; i < word.text.size(); ++i) {
        text += word.text[i];
        if (word.text[i] == '%' && i + 1 < word.text.size() && word.text[i + 1] == '%') ++i;
      }
      line += ' ';
      line += WindowsArgument(text);
      continue;
    }
    const std::string& t = word.text;
    if (t == "%f" || t == "%F" || t == "%u" || t == "%U") {
      line += " \"%1\"";
      continue;
    }
    if (t == "%i") {
      if (!facts.icon.empty()) {
        line += " --icon ";
        line += WindowsArgument(facts.icon);
      }
      continue;
    }
    std::string text;
    bool file = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] != '%' || i + 1 == t.size()) {
        text += t[i];
        continue;
      }
      switch (const char code = t[++i]) {
        case '%': text += '%'; break;
        case 'f':
        case 'F':
        case 'u':
        case 'U':
          text += "%1";
          file = true;
          break;
        case 'c': text += facts.name; break;
        case 'k': text += facts.file; break;
        default: (void)code; break;  // deprecated or unknown codes expand to nothing
      }
    }
    if (text.empty() && !t.empty()) continue;  // a word that was only a dropped code
    line += ' ';
    line += file ? text : WindowsArgument(text);
  }
  return line;
}

std::optional<ParsedCommand> ParseCommand(const std::string& command, const ProgramCheck& isProgram) {
  std::size_t start = 0;
  while (start < command.size() && IsSpace(command[start])) ++start;
  ParsedCommand parsed;
  std::size_t rest = 0;
  if (start < command.size() && command[start] == '"') {
    const std::size_t close = command.find('"', start + 1);
    parsed.program = command.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
    if (!isProgram(parsed.program)) return std::nullopt;
    rest = close == std::string::npos ? command.size() : close + 1;
  } else {
    // Each space that ends a word is a place where the program may end.
    for (std::size_t end = start; end <= command.size(); ++end) {
      if (end < command.size() && !(IsSpace(command[end]) && end > start && !IsSpace(command[end - 1]))) continue;
      if (end == command.size() && (end == start || IsSpace(command[end - 1]))) break;
      std::string candidate = command.substr(start, end - start);
      if (isProgram(candidate)) {
        parsed.program = std::move(candidate);
        rest = end;
        break;
      }
    }
    if (parsed.program.empty()) return std::nullopt;
  }
  parsed.args = SplitArguments(command.substr(rest));
  return parsed;
}

std::string ExecValue(const ParsedCommand& command) {
  // GIO looks for the program by the Exec's first word before it turns "%%"
  // into "%": a path holding "%" names a program it never finds.
  if (command.program.find('%') != std::string::npos) return "";
  std::string line = ExecArgument(command.program);
  bool file = false;
  for (const std::string& arg : command.args) {
    if (arg == "%*") continue;  // the further arguments Windows would pass: there are none
    if (arg == "%1" || arg == "%L" || arg == "%l") {
      line += " %f";
      file = true;
      continue;
    }
    const std::size_t at = arg.find("%1");
    if (at == std::string::npos) {
      line += ' ';
      line += ExecArgument(arg);
      continue;
    }
    // A file argument inside a word ("--file=%1"): field codes may not stand
    // inside quotes, so only a word that needs none can carry it.
    const std::string before = arg.substr(0, at), after = arg.substr(at + 2);
    if ((!before.empty() && NeedsQuotes(before)) || (!after.empty() && NeedsQuotes(after)) ||
        after.find("%1") != std::string::npos)
      return "";
    line += ' ';
    line += Percents(before);
    line += "%f";
    line += Percents(after);
    file = true;
  }
  if (!file) line += " %f";
  return KeyFileEscaped(line);
}

}  // namespace zandrel::freedesktop
