#include "freedesktop/DesktopDefaults.h"

#include <algorithm>
#include <functional>

namespace zandrel::freedesktop {
namespace {

constexpr const char* kDefaults = "[Default Applications]";
constexpr const char* kAdded = "[Added Associations]";
constexpr const char* kRemoved = "[Removed Associations]";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string LineEnd(const std::string& line) {
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
  return !line.empty() && line.back() == '\n' ? "\n" : "";
}

// What ends the lines a text gains: its first line's end, so that a file
// written with CR LF stays so; LF for a text with none.
std::string TextLineEnd(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (const std::string end = LineEnd(line); !end.empty()) return end;
  return "\n";
}

std::string ListValue(const std::vector<std::string>& items) {
  std::string value;
  for (const std::string& item : items) value += item + ";";
  return value;
}

// What becomes of a key's items: the new items, or nullopt to drop its line.
using ItemsChange = std::function<std::optional<std::vector<std::string>>(const std::vector<std::string>&)>;

// Gives each line of `key` in `section` the items `change` makes of its own;
// with `add`, adds a line of change({}) at the section's end when there is
// none, the section made at the file's end when it is missing.
void EditKey(std::vector<std::string>& lines, const std::string& section, const std::string& key,
             const ItemsChange& change, bool add) {
  const std::string eol = TextLineEnd(lines);
  bool in = false, found = false;
  std::size_t end = 0;  // after the section's last key line (or its header); 0: no section
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string t = Trimmed(lines[i]);
    if (!t.empty() && t.front() == '[') {
      in = t == section;
      if (in) end = i + 1;
      continue;
    }
    if (!in || t.empty() || t.front() == '#') continue;
    const std::size_t eq = t.find('=');
    if (eq != std::string::npos && Trimmed(t.substr(0, eq)) == key) {
      found = true;
      const std::optional<std::vector<std::string>> items = change(ListItems(t.substr(eq + 1)));
      if (!items) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i--));
        continue;
      }
      lines[i] = key + "=" + ListValue(*items) + LineEnd(lines[i]);
    }
    end = i + 1;
  }
  if (found || !add) return;
  const std::optional<std::vector<std::string>> items = change({});
  if (!items) return;
  const std::string line = key + "=" + ListValue(*items) + eol;
  if (end == 0) {
    if (!lines.empty() && lines.back().back() != '\n') lines.back() += eol;
    if (!lines.empty() && !Trimmed(lines.back()).empty()) lines.push_back(eol);
    lines.push_back(section + eol);
    lines.push_back(line);
    return;
  }
  if (lines[end - 1].back() != '\n') lines[end - 1] += eol;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end), line);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

std::string XmlEscapedType(const std::string& type) {
  std::string out;
  for (char c : type) out += c == '"' ? std::string("&quot;") : c == '&' ? std::string("&amp;") : std::string(1, c);
  return out;
}

// An edit of a line's entries that takes `entry` out, and the whole line
// when it named only that.
auto WithoutEntry(const std::string& entry) {
  return [&entry](std::vector<std::string> items) -> std::optional<std::vector<std::string>> {
    std::erase(items, entry);
    if (items.empty()) return std::nullopt;
    return items;
  };
}

}  // namespace

std::vector<std::string> ListItems(const std::string& value) {
  std::vector<std::string> items;
  for (std::size_t start = 0; start <= value.size();) {
    std::size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    if (std::string item = Trimmed(value.substr(start, end - start)); !item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}

std::string WithDefault(const std::string& text, const std::string& type, const std::string& entry, bool associate) {
  std::vector<std::string> lines = Lines(text);
  EditKey(
      lines, kDefaults, type, [&entry](const std::vector<std::string>&) { return std::vector<std::string>{entry}; },
      true);
  if (associate) {
    EditKey(
        lines, kAdded, type,
        [&entry](const std::vector<std::string>& items) {
          std::vector<std::string> first{entry};
          for (const std::string& item : items)
            if (item != entry) first.push_back(item);
          return std::optional(first);
        },
        true);
    EditKey(lines, kRemoved, type, WithoutEntry(entry), false);
  }
  return Joined(lines);
}

std::string WithoutDefault(const std::string& text, const std::string& type, const std::string& entry) {
  std::vector<std::string> lines = Lines(text);
  EditKey(lines, kDefaults, type, WithoutEntry(entry), false);
  return Joined(lines);
}

bool NamesDefault(const std::string& text, const std::string& type) {
  bool in = false;
  for (const std::string& line : Lines(text)) {
    const std::string t = Trimmed(line);
    if (!t.empty() && t.front() == '[') in = t == kDefaults;
    else if (in && !t.empty() && t.front() != '#' && Trimmed(t.substr(0, t.find('='))) == type &&
             t.find('=') != std::string::npos)
      return true;
  }
  return false;
}

std::optional<std::string> EntryValue(const std::string& text, const std::string& key) {
  // A key given twice keeps its last value, as GIO's key file reader keeps it.
  std::optional<std::string> found;
  bool in = false;
  for (const std::string& line : Lines(text)) {
    const std::string t = Trimmed(line);
    if (!t.empty() && t.front() == '[') {
      in = t == "[Desktop Entry]";
      continue;
    }
    const std::size_t eq = t.find('=');
    if (!in || t.empty() || t.front() == '#' || eq == std::string::npos || Trimmed(t.substr(0, eq)) != key) continue;
    const std::string raw = Trimmed(t.substr(eq + 1));
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '\\' || i + 1 == raw.size()) {
        value += raw[i];
        continue;
      }
      const char c = raw[++i];
      value += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    found = std::move(value);
  }
  return found;
}

std::string WithDesktopType(const std::string& package, const Projection& type) {
  if (package.find("<mime-type type=\"" + XmlEscapedType(type.mimeType) + "\"") != std::string::npos) return package;
  // The projection's text of the one type: its header, its types, its end.
  std::vector<std::string> lines = Lines(MimePackage({type}));
  const std::string types = Joined({lines.begin() + 3, lines.end() - 1});
  if (package.empty())
    return lines[0] +
           "<!-- Written by Zandrel: the types of one extension each that the desktop's own settings give a "
           "program. -->\n" +
           lines[2] + types + lines.back();
  const std::size_t end = package.rfind("</mime-info>");
  if (end == std::string::npos) return package;
  return package.substr(0, end) + types + package.substr(end);
}

std::set<std::string> DeclaredTypes(const std::string& package) {
  std::set<std::string> types;
  const std::string mark = "<mime-type type=\"";
  for (std::size_t at = package.find(mark); at != std::string::npos; at = package.find(mark, at + 1)) {
    const std::size_t begin = at + mark.size(), end = package.find('"', begin);
    if (end != std::string::npos) types.insert(package.substr(begin, end - begin));
  }
  return types;
}

std::string ProgramEntry(const std::string& name, const std::string& exec, const std::string& type) {
  return "# Written by Zandrel for a program chosen by its path; its undo removes this file.\n"
         "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         KeyFileEscaped(name) + "\nExec=" + exec + "\nMimeType=" + type + ";\nNoDisplay=true\n";
}

}  // namespace zandrel::freedesktop
