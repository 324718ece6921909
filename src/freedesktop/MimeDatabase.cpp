#include "freedesktop/MimeDatabase.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "files/FileRead.h"

namespace zandrel::freedesktop {

namespace {

std::string AsciiLower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?[") != std::string::npos; }

// GLib's simple patterns: "*" any run, "?" one character, nothing else special.
bool SimpleMatch(const char* pattern, const char* name) {
  for (; *pattern != '\0'; ++pattern, ++name) {
    if (*pattern == '*') {
      for (const char* rest = name;; ++rest) {
        if (SimpleMatch(pattern + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*name == '\0' || (*pattern != '?' && *pattern != *name)) return false;
  }
  return *name == '\0';
}

}  // namespace

bool IsSuffixGlob(const std::string& pattern) {
  return pattern.size() > 1 && pattern[0] == '*' && !HasWildcard(pattern.substr(1));
}

MimeDatabase MimeDatabase::Parse(const std::vector<MimeFolderText>& folders, const std::string& skipPrefix,
                                 std::set<std::string>* skipped) {
  MimeDatabase db;
  db.folders_ = folders.size();
  for (std::size_t f = 0; f < folders.size(); ++f) {
    // update-mime-database writes a case-sensitive glob twice, flagged first
    // and then plain for older readers: the first line of a pair counts.
    std::set<std::pair<std::string, std::string>> seen;
    for (const std::string& line : DataLines(folders[f].globs2)) {
      // weight:type:pattern[:flags]
      const std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
      if (b == std::string::npos) continue;
      MimeGlob glob;
      glob.weight = std::atoi(line.c_str());
      glob.type = line.substr(a + 1, b - a - 1);
      const std::size_t c = line.find(':', b + 1);
      glob.pattern = line.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
      if (glob.type.rfind(skipPrefix, 0) == 0 && !skipPrefix.empty()) {
        if (skipped != nullptr) skipped->insert(glob.type);
        continue;
      }
      if (glob.pattern.empty() || glob.pattern == "__NOGLOBS__" || !seen.emplace(glob.type, glob.pattern).second)
        continue;
      if (c != std::string::npos) {
        for (std::size_t at = c + 1; at <= line.size();) {  // comma-separated flags
          std::size_t end = line.find(',', at);
          if (end == std::string::npos) end = line.size();
          glob.caseSensitive = glob.caseSensitive || line.compare(at, end - at, "cs") == 0;
          at = end + 1;
        }
      }
      if (!glob.caseSensitive) glob.pattern = AsciiLower(glob.pattern);
      glob.suffix = IsSuffixGlob(glob.pattern);
      glob.folder = f;
      db.globs_.push_back(std::move(glob));
    }
    for (const std::string& line : DataLines(folders[f].aliases)) {
      const std::size_t space = line.find(' ');
      if (space != std::string::npos) db.aliases_.emplace(line.substr(0, space), line.substr(space + 1));
    }
  }
  for (const MimeFolderText& folder : folders)
    for (const std::string& line : DataLines(folder.subclasses)) {
      const std::size_t space = line.find(' ');
      if (space != std::string::npos) db.parents_.insert(db.Unaliased(line.substr(space + 1)));
    }
  return db;
}

MimeDatabase MimeDatabase::Read(const std::vector<std::string>& mimeFolders, const std::string& skipPrefix,
                                std::set<std::string>* skipped) {
  std::vector<MimeFolderText> texts(mimeFolders.size());
  for (std::size_t i = 0; i < mimeFolders.size(); ++i) {
    // A folder without a database has no globs: as GIO sees it.
    files::ReadFileWhole(mimeFolders[i] + "/globs2", &texts[i].globs2);
    files::ReadFileWhole(mimeFolders[i] + "/subclasses", &texts[i].subclasses);
    files::ReadFileWhole(mimeFolders[i] + "/aliases", &texts[i].aliases);
  }
  return Parse(texts, skipPrefix, skipped);
}

std::string MimeDatabase::Unaliased(const std::string& type) const {
  const auto it = aliases_.find(type);
  return it == aliases_.end() ? type : it->second;
}

bool MimeDatabase::HasSubtypes(const std::string& type) const {
  const std::string t = Unaliased(type);
  return t == "text/plain" || t == "application/octet-stream" || parents_.count(t) != 0;
}

std::vector<MimeDatabase::Match> MimeDatabase::Lookup(const std::string& name) const {
  const std::string lower = AsciiLower(name);
  std::vector<Match> found;
  // Literal names decide alone: the plain ones on the lower-cased name first.
  for (const bool cs : {false, true}) {
    for (const MimeGlob& g : globs_)
      if (g.caseSensitive == cs && !HasWildcard(g.pattern) && g.pattern == (cs ? name : lower))
        found.push_back({g.type, g.weight});
    if (!found.empty()) return found;
  }
  // Each folder's longest suffix: on the lower-cased name with the plain
  // globs, then, while fewer than two matched, on the name as it is with all.
  for (const bool exact : {false, true}) {
    if (found.size() >= 2) break;
    const std::string& s = exact ? name : lower;
    for (std::size_t f = 0; f < folders_; ++f) {
      std::size_t longest = 0;
      std::vector<Match> at;
      for (const MimeGlob& g : globs_) {
        if (g.folder != f || !g.suffix || (!exact && g.caseSensitive)) continue;
        const std::size_t length = g.pattern.size() - 1;
        if (length < longest || length > s.size() || s.compare(s.size() - length, length, g.pattern, 1) != 0) continue;
        if (length > longest) at.clear();
        longest = length;
        at.push_back({g.type, g.weight});
      }
      found.insert(found.end(), at.begin(), at.end());
    }
  }
  if (found.size() < 2)
    for (const MimeGlob& g : globs_)
      if (!g.suffix && HasWildcard(g.pattern) && SimpleMatch(g.pattern.c_str(), name.c_str()))
        found.push_back({g.type, g.weight});
  // A type once, with its heaviest weight; the last match takes the place
  // of a repeated one, as GIO's own pass does, before a stable sort.
  std::size_t last = found.size();
  for (std::size_t i = 0; i < last; ++i)
    for (std::size_t j = i + 1; j < last;) {
      if (found[i].type == found[j].type) {
        found[i].weight = std::max(found[i].weight, found[j].weight);
        found[j] = found[--last];
      } else {
        ++j;
      }
    }
  found.resize(last);
  std::stable_sort(found.begin(), found.end(), [](const Match& a, const Match& b) { return a.weight > b.weight; });
  return found;
}

std::vector<std::string> DataLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace zandrel::freedesktop
