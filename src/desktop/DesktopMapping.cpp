#include "desktop/DesktopMapping.h"

#include <cstdio>
#include <set>
#include <string_view>

namespace zandrel::desktop {

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

// The extension as a name part of files and types: ASCII letters (lowered)
// and digits as they are, every other byte as "_" and two hex digits.
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
    if (c == '*' || c == '?' || c == '[')
      glob += std::string("[") + c + "]";
    else
      glob += c;
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


}  // namespace

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

std::vector<Projection> MapAssociations(const std::vector<store::AssociationRow>& rows, const SystemGlobs& globs,
                                        const ProgramCheck& isProgram) {
  std::vector<Projection> out;
  for (const store::AssociationRow& row : rows) {
    if (row.extension.size() < 2 || row.extension[0] != '.') continue;
    const std::string ext = row.extension.substr(1);
    if (!IsValidText(ext) || ext.find('/') != std::string::npos) continue;
    std::optional<ParsedCommand> parsed = ParseCommand(row.command, isProgram);
    if (!parsed || !IsValidText(parsed->program)) continue;
    Projection p;
    p.exec = ExecValue(*parsed);
    if (p.exec.empty()) continue;
    p.extension = row.extension;
    p.description = DisplayText(row.description);
    const std::string id = EncodeId(ext);
    p.entryId = kEntryPrefix + id + ".desktop";
    const auto known = globs.find(AsciiLower(ext));
    p.privateType = known == globs.end();
    p.mimeType = p.privateType ? kPrivateTypePrefix + id : known->second;
    out.push_back(std::move(p));
  }
  return out;
}

std::string MimePackage(const std::vector<Projection>& projections) {
  std::string types;
  for (const Projection& p : projections) {
    if (!p.privateType) continue;
    types += "  <mime-type type=\"" + p.mimeType + "\">\n    <comment>" + XmlEscaped(p.description) +
             "</comment>\n    <glob pattern=\"" + XmlEscaped(GlobFor(p.extension.substr(1))) +
             "\"/>\n  </mime-type>\n";
  }
  if (types.empty()) return "";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!-- Written by Zandrel from its classes store; it rewrites or removes this file. -->\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n" +
         types + "</mime-info>\n";
}

std::string DesktopEntry(const Projection& p) {
  return "# Written by Zandrel from its classes store; it rewrites or removes this file.\n"
         "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + KeyFileEscaped(p.description) + "\n"
         "Exec=" + p.exec + "\n"
         "MimeType=" + p.mimeType + ";\n"
         "NoDisplay=true\n"
         "X-Zandrel-Extension=" + KeyFileEscaped(p.extension) + "\n";
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

}  // namespace zandrel::desktop
