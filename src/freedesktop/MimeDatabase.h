// The shared MIME database as GIO reads it for a file's name: the globs of
// each MIME folder (globs2), and the type hierarchy (subclasses, aliases).
// The projection asks it which type a file named "x.E" gets, and which other
// names and types that type carries, before it picks the type for .E.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace zandrel::freedesktop {

struct MimeGlob {
  int weight = 50;
  std::string type;
  std::string pattern;  // as matched: lower-cased unless case-sensitive
  bool caseSensitive = false;
  bool suffix = false;     // IsSuffixGlob(pattern)
  std::size_t folder = 0;  // the MIME folder's place, the user's first
};

// One MIME folder's files, as text.
struct MimeFolderText {
  std::string globs2;
  std::string subclasses;
  std::string aliases;
};

class MimeDatabase {
 public:
  // The folders in the order GIO consults them (the user's first); the
  // globs of the types named with `skipPrefix` are left out, their types
  // collected in `skipped` when it is not null.
  static MimeDatabase Parse(const std::vector<MimeFolderText>& folders, const std::string& skipPrefix,
                            std::set<std::string>* skipped);
  // Reads "<folder>/globs2", "subclasses" and "aliases" of each folder.
  static MimeDatabase Read(const std::vector<std::string>& mimeFolders, const std::string& skipPrefix,
                           std::set<std::string>* skipped);

  struct Match {
    std::string type;
    int weight = 0;
  };
  // The types the globs give a file named `name`, in the order GIO ranks
  // them: literal names first (and alone), then the longest suffix of each
  // folder, then wildcard patterns while fewer than two matched; a type
  // once, the heaviest first. GIO guesses the first; with more than one it
  // is unsure and lets the file's content choose among them.
  std::vector<Match> Lookup(const std::string& name) const;

  // Whether another type falls back to `type` for its programs: a declared
  // subclass (through aliases too), or text/plain and
  // application/octet-stream, which all text or all files fall back to.
  bool HasSubtypes(const std::string& type) const;

  // Every glob, each (type, pattern) once a folder, in the folders' order.
  const std::vector<MimeGlob>& Globs() const { return globs_; }

 private:
  std::string Unaliased(const std::string& type) const;

  std::vector<MimeGlob> globs_;
  std::size_t folders_ = 0;
  std::set<std::string> parents_;  // unaliased types some declared subclass names
  std::map<std::string, std::string> aliases_;
};

// Whether a glob is "*" and a suffix without wildcards (the "*.ext" kind).
bool IsSuffixGlob(const std::string& pattern);

// The lines of a MIME database file or a key file without their ends (LF or
// CR LF), empty lines and comments ("#") left out.
std::vector<std::string> DataLines(const std::string& text);

}  // namespace zandrel::freedesktop
