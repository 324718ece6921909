#include "freedesktop/DesktopMapping.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string_view>

namespace zandrel::freedesktop {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The length of the UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

bool IsValidText(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8Length(s, i);
    if (n == 0 || static_cast<unsigned char>(s[i]) < 0x20 || s[i] == 0x7F) return false;
    i += n;
  }
  return true;
}

// A title as the files can carry it: bytes that are not UTF-8 become "?",
// control characters spaces.
std::string DisplayText(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = Utf8Length(s, i);
    if (n == 0) {
      out += '?';
      ++i;
    } else if (n == 1 && (static_cast<unsigned char>(s[i]) < 0x20 || s[i] == 0x7F)) {
      out += ' ';
      ++i;
    } else {
      out.append(s, i, n);
      i += n;
    }
  }
  return out;
}

// The extension as a name part of files and types (see ExtensionId).
std::string EncodeId(const std::string& ext) {
  std::string id;
  for (char c : AsciiLower(ext)) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      id += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "_%02x", static_cast<unsigned char>(c));
      id += hex;
    }
  }
  return id;
}

// The glob for files ending in ".ext"; wildcard characters of the extension
// match only themselves.
std::string GlobFor(const std::string& ext) {
  std::string glob = "*.";
  for (char c : ext) {
    if (c == '*' || c == '?' || c == '[') glob += std::string("[") + c + "]";
    else glob += c;
  }
  return glob;
}

std::string XmlEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

bool EndsWithFolded(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && AsciiLower(s.substr(s.size() - suffix.size())) == AsciiLower(suffix);
}

}  // namespace

void ChooseType(const std::string& ext, const MimeDatabase& mime, Projection& p) {
  const std::string suffix = "." + ext;
  const std::vector<MimeDatabase::Match> matches = mime.Lookup("x" + suffix);
  const std::string folded = AsciiLower(suffix);
  bool otherCase = false;  // a glob for another case of the same name
  for (const MimeGlob& g : mime.Globs())
    otherCase = otherCase ||
                (g.suffix && g.pattern.size() == suffix.size() + 1 &&
                 g.pattern.compare(1, std::string::npos, suffix) != 0 && AsciiLower(g.pattern.substr(1)) == folded);
  if (matches.size() == 1 && !otherCase && !mime.HasSubtypes(matches[0].type)) {
    bool alone = true;
    for (const MimeGlob& g : mime.Globs()) alone = alone && (g.type != matches[0].type || g.pattern == "*" + suffix);
    if (alone) {
      p.mimeType = matches[0].type;
      return;
    }
  }
  p.privateType = true;
  p.mimeType = kPrivateTypePrefix + ExtensionId(ext);
  p.glob = GlobFor(ext);
  p.caseSensitive = otherCase;
  if (matches.empty()) return;
  p.parentType = matches[0].type;
  p.weight = std::min(100, matches[0].weight + 10);
  for (const MimeGlob& g : mime.Globs())
    if (g.suffix && g.pattern.size() - 1 > suffix.size() && EndsWithFolded(g.pattern, suffix)) p.kept.push_back(g);
}

namespace {

std::string GlobElement(const std::string& pattern, int weight, bool caseSensitive) {
  std::string element = "<glob pattern=\"" + XmlEscaped(pattern) + "\"";
  if (weight != 0) element += " weight=\"" + std::to_string(weight) + "\"";
  if (caseSensitive) element += " case-sensitive=\"true\"";
  return element + "/>";
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Why no program of this machine opens files with `command`.
std::string WhyNoProgram(const std::string& command) {
  if (const std::optional<ParsedCommand> file = ParseCommand(command, IsFile))
    return "файл " + file->program + " не исполняемый";
  // A program whose path holds a quote: the quoted first word ends at it.
  const std::size_t open = command.find_first_not_of(" \t");
  if (open != std::string::npos && command[open] == '"')
    for (std::size_t close = command.find('"', open + 1); close != std::string::npos;
         close = command.find('"', close + 1)) {
      const std::string path = command.substr(open + 1, close - open - 1);
      if (path.find('"') != std::string::npos && IsFile(path))
        return "в пути к программе " + path + " есть кавычка (\"), её не передать в команде";
    }
  return "в команде " + command + " нет программы этого компьютера";
}

}  // namespace

std::string ExtensionId(const std::string& ext) {
  std::string id = EncodeId(ext);
  if (id.size() <= kMaxIdLength) return id;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : id) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char tail[24];
  std::snprintf(tail, sizeof tail, "-%016llx", static_cast<unsigned long long>(hash));
  return id.substr(0, kMaxIdLength - 17) + tail;
}

// A desktop entry string value: backslashes and line breaks escaped.
std::string KeyFileEscaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<Projection> MapAssociations(const std::vector<StoreRow>& rows, const MimeDatabase& mime,
                                        const ProgramCheck& isProgram, std::vector<ProjectionFailure>* unprojected) {
  std::vector<Projection> out;
  const auto fail = [&](const StoreRow& row, const std::string& reason) {
    if (unprojected != nullptr) unprojected->push_back({row.extension, reason});
  };
  for (const StoreRow& row : rows) {
    if (row.extension.size() < 2 || row.extension[0] != '.') continue;
    const std::string ext = row.extension.substr(1);
    if (!IsValidText(ext) || ext.find('/') != std::string::npos) {
      fail(row, "расширение нельзя записать в имя файла");
      continue;
    }
    // GIO (2.74) matches no glob holding a byte past ASCII: files named so
    // would open as if Zandrel had written nothing.
    if (std::any_of(ext.begin(), ext.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
      fail(row, "GIO не узнаёт файлы по расширению с символами не из ASCII (как ж или é)");
      continue;
    }
    std::optional<ParsedCommand> parsed = ParseCommand(row.command, isProgram);
    if (!parsed || !IsValidText(parsed->program)) {
      fail(row, WhyNoProgram(row.command));
      continue;
    }
    if (parsed->program.find('%') != std::string::npos) {
      fail(row, "в пути к программе " + parsed->program +
                    " есть знак %, а GIO ищет программу по слову команды, не раскрыв %%: такую он не найдёт");
      continue;
    }
    Projection p;
    p.exec = ExecValue(*parsed);
    if (p.exec.empty()) {
      fail(row, "аргумент с именем файла внутри кавычек нельзя записать в файл рабочего стола");
      continue;
    }
    p.extension = row.extension;
    p.description = DisplayText(row.description);
    p.entryId = kEntryPrefix + ExtensionId(ext) + ".desktop";
    ChooseType(ext, mime, p);
    out.push_back(std::move(p));
  }
  return out;
}

std::string MimePackage(const std::vector<Projection>& projections) {
  std::string types;
  std::map<std::string, std::vector<const MimeGlob*>> kept;  // type -> its globs declared again
  std::set<std::pair<std::string, std::string>> keptOnce;
  for (const Projection& p : projections) {
    if (!p.privateType) continue;
    types += "  <mime-type type=\"" + p.mimeType + "\">\n    <comment>" + XmlEscaped(p.description) + "</comment>\n";
    if (!p.parentType.empty()) types += "    <sub-class-of type=\"" + XmlEscaped(p.parentType) + "\"/>\n";
    types += "    " + GlobElement(p.glob, p.weight, p.caseSensitive) + "\n  </mime-type>\n";
    for (const MimeGlob& g : p.kept)
      if (keptOnce.emplace(g.type, g.pattern).second) kept[g.type].push_back(&g);
  }
  if (types.empty()) return "";
  for (const auto& [type, globs] : kept) {
    types += "  <mime-type type=\"" + XmlEscaped(type) + "\">\n";
    for (const MimeGlob* g : globs) types += "    " + GlobElement(g->pattern, g->weight, g->caseSensitive) + "\n";
    types += "  </mime-type>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!-- Written by Zandrel from its classes store; it rewrites or removes this file. -->\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
         types + "</mime-info>\n";
}

std::string DesktopEntry(const Projection& p) {
  return "# Written by Zandrel from its classes store; it rewrites or removes this file.\n"
         "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" +
         KeyFileEscaped(p.description) +
         "\n"
         "Exec=" +
         p.exec +
         "\n"
         "MimeType=" +
         p.mimeType +
         ";\n"
         "NoDisplay=true\n"
         "X-Zandrel-Extension=" +
         KeyFileEscaped(p.extension) + "\n";
}

bool IsOwnDefault(const std::string& value) {
  bool any = false;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    std::string item = value.substr(start, end - start);
    while (!item.empty() && IsSpace(item.back())) item.pop_back();
    while (!item.empty() && IsSpace(item.front())) item.erase(0, 1);
    if (!item.empty()) {
      const std::string suffix = ".desktop";
      if (item.rfind(kEntryPrefix, 0) != 0 || item.size() < suffix.size() ||
          item.compare(item.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
      any = true;
    }
    start = end + 1;
  }
  return any;
}

std::string MergeMimeApps(const std::string& old, const std::vector<Projection>& projections) {
  constexpr const char* kSection = "[Default Applications]";
  auto trimmed = [](std::string s) {
    while (!s.empty() && (IsSpace(s.back()) || s.back() == '\n' || s.back() == '\r')) s.pop_back();
    while (!s.empty() && IsSpace(s.front())) s.erase(0, 1);
    return s;
  };

  std::vector<std::string> lines;  // each with its own line end, byte for byte
  for (std::size_t start = 0; start < old.size();) {
    std::size_t end = old.find('\n', start);
    end = end == std::string::npos ? old.size() : end + 1;
    lines.push_back(old.substr(start, end - start));
    start = end;
  }

  std::vector<std::string> kept;
  std::set<std::string> taken;  // types another program's line names
  bool inDefaults = false, dropped = false;
  std::ptrdiff_t insertAt = -1;  // after the last key line of the section
  for (const std::string& line : lines) {
    const std::string t = trimmed(line);
    if (!t.empty() && t.front() == '[') {
      inDefaults = t == kSection;
      if (inDefaults && insertAt < 0) insertAt = static_cast<std::ptrdiff_t>(kept.size()) + 1;
    } else if (inDefaults && !t.empty() && t.front() != '#') {
      const std::size_t eq = t.find('=');
      if (eq != std::string::npos) {
        if (IsOwnDefault(t.substr(eq + 1))) {
          dropped = true;
          continue;
        }
        taken.insert(trimmed(t.substr(0, eq)));
      }
      kept.push_back(line);
      insertAt = static_cast<std::ptrdiff_t>(kept.size());
      continue;
    }
    kept.push_back(line);
  }

  std::vector<std::pair<std::string, std::string>> defaults;  // type -> "a.desktop;b.desktop;"
  for (const Projection& p : projections) {
    if (taken.count(p.mimeType) != 0) continue;
    auto it = defaults.begin();
    while (it != defaults.end() && it->first != p.mimeType) ++it;
    if (it == defaults.end()) defaults.emplace_back(p.mimeType, p.entryId + ";");
    else it->second += p.entryId + ";";
  }
  if (!dropped && defaults.empty()) return old;

  std::string block;
  for (const auto& [type, ids] : defaults) block += type + "=" + ids + "\n";
  if (insertAt < 0 && !block.empty()) {
    if (!kept.empty() && kept.back().back() != '\n') kept.back() += '\n';
    if (!kept.empty() && !trimmed(kept.back()).empty()) kept.push_back("\n");
    kept.push_back(std::string(kSection) + "\n");
    insertAt = static_cast<std::ptrdiff_t>(kept.size());
  }
  if (!block.empty()) {
    std::string& before = kept[static_cast<std::size_t>(insertAt) - 1];
    if (before.back() != '\n') before += '\n';
    kept.insert(kept.begin() + insertAt, block);
  }

  std::string merged;
  bool meaningful = false;
  for (const std::string& line : kept) {
    merged += line;
    const std::string t = trimmed(line);
    if (!t.empty() && t != kSection) meaningful = true;
  }
  return meaningful ? merged : "";
}

}  // namespace zandrel::freedesktop
