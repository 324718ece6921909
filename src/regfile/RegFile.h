// .reg files as regedit reads and writes them, over any IRegistry.
//
// Import reads what regedit reads, the way it reads it (RegParser.h):
// "Windows Registry Editor Version 5.00" files (UTF-16LE with a BOM, or UTF-8
// with or without one), "REGEDIT4" files and "REGEDIT" files of Windows 3.1
// lines; an 8-bit file that is not UTF-8 throughout is in the system's ANSI
// code page (1251 on a Russian system), as regedit reads it.
// Export writes Version 5.00: UTF-16LE with a BOM, CRLF, sections in
// enumeration order. A string that the quoted form would not give back byte
// for byte (one holding NUL, CR or LF) is written as hex(1):, which regedit
// reads back unchanged.
//
// Registry strings are kept in the program's ANSI code page (UTF-8); the string types
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) written as hex in a Unicode file are
// UTF-16LE there, as on Windows, and are converted on the way in and out.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/Registry.h"
#include "status/Status.h"

namespace zandrel::regfile {

struct RegChange;  // regfile/RegParser.h

// A registry's own application of the changes a file was parsed into, inside
// the import's transaction, giving what the registry calls would give (the
// hive's HiveRegistry::ApplyRegChanges): 0, or the code of the change at
// *failed.
using ChangesApply = std::function<LONG(const std::deque<RegChange>& changes, const RegChange** failed)>;

// Imports a whole .reg text in one registry transaction: all of it lands, or
// nothing does. file_name is used only in messages, each one line: a file
// regedit refuses fails with kInvalid "FILE, line N: what is wrong", a
// change the registry refuses with kFailed "FILE, line N: " and the change
// with its code described ("FILE: ..." when the fault is no line's). Lines
// whose value regedit leaves out too are added to *notes (when not null),
// "FILE, line N: why"; the rest of the file is imported all the same. The
// changes are made with `apply` when given, else through the registry calls.
status::Status ImportRegText(IRegistry& registry, std::string_view bytes, const std::string& file_name,
                             std::vector<std::string>* notes = nullptr, const ChangesApply& apply = nullptr);

// The changes made through the registry calls, as ImportRegText makes them
// without `apply`: for an `apply` that checks them first. 0, or the code of
// the change at *failed.
LONG ApplyThroughCalls(IRegistry& registry, const std::deque<RegChange>& changes, const RegChange** failed);

// Reads the file and imports it as ImportRegText does. A file that cannot be
// read fails with the reader's code (files/FileRead.h) and "PATH: " and why.
status::Status ImportRegFile(IRegistry& registry, const std::string& path,
                             std::vector<std::string>* notes = nullptr, const ChangesApply& apply = nullptr);

// Deletes root\path and everything below it through the registry calls, as
// a file's "[-KEY]" line does: 0, also when the key does not exist, or the
// first failing call's code.
LONG DeleteKeyTree(IRegistry& registry, HKEY root, const std::string& path);

// Splits "HKEY_CLASSES_ROOT\sub\path" (or HKCR, HKLM, HKCU, HKU; any case)
// into its root and the rest (empty components dropped). False for an
// unknown root.
bool ParseKeyPath(std::string_view path, HKEY* root, std::string* sub_path);

// One value of a key as enumerated: its name ("" for the default), type and
// data bytes.
struct KeyValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

// Reads every value of the open `key` and the names of its direct subkeys,
// both in enumeration order, however long names and data are. Returns 0 or
// the first code other than "no more items".
LONG ReadKeyContents(IRegistry& registry, HKEY key, std::vector<KeyValue>* values,
                     std::vector<std::string>* children);

// What a walk of a subtree hands over: each key, then its values, then its
// subkeys' subtrees, values and subkeys in enumeration order.
class SubtreeVisitor {
 public:
  virtual ~SubtreeVisitor() = default;
  // depth 0 and name "" for the key the walk starts at; one more level for
  // each key below it.
  virtual void Key(std::size_t depth, std::string_view name) = 0;
  // A value of the key handed over last.
  virtual void Value(std::string_view name, DWORD type, std::string_view data) = 0;
  // Told first by a walk that knows it: at most how many keys and values,
  // with how many bytes of names and data, will follow; to size the output.
  virtual void Expect(std::size_t /*keys*/, std::size_t /*values*/, std::size_t /*bytes*/) {}
};

// The path of each key a walk hands over, for a visitor that writes paths:
// `title` (the walked key's own path) at depth 0, then a name added for each
// level below it.
class WalkPath {
 public:
  explicit WalkPath(std::string title) : title_(std::move(title)) {}
  // The path of the key handed over as Key(depth, name).
  const std::string& Enter(std::size_t depth, std::string_view name);
  const std::string& Title() const { return title_; }

 private:
  const std::string title_;
  std::string path_;
  std::vector<std::size_t> ends_;  // where each level's part of path_ ends
};

// Walks the open `key` and its subtree through the registry calls (each key
// opened for reading). Returns 0 or the first code other than "no more
// items"; what was handed over before a failure is incomplete.
LONG WalkSubtree(IRegistry& registry, HKEY key, SubtreeVisitor& visitor);

// A registry's own walk of an open key's subtree that hands over exactly
// what WalkSubtree would, faster (the hive's HiveRegistry::WalkSubtree).
using SubtreeWalk = std::function<LONG(HKEY key, SubtreeVisitor& visitor)>;

// A registry's own deletion of each root\path with its subtree, all or none,
// as DeleteKeyTree makes each through the calls (the hive's
// HiveRegistry::DeleteTrees).
using TreesDelete = std::function<LONG(const std::vector<std::pair<HKEY, std::string>>& keys)>;

// What a registry does faster than through its calls; what is empty is done
// through the calls.
struct FastPaths {
  SubtreeWalk walk;
  TreesDelete deleteTrees;
};

// Exports the key at `key_path` and its whole subtree as Version 5.00 bytes
// (UTF-16LE with BOM), read with `walk` when given, else with WalkSubtree.
// Fails with kInvalid "unknown root key in \"KEY\"", or kFailed "cannot open
// (read) the key \"KEY\": " and the registry's code described.
status::Status ExportRegText(IRegistry& registry, const std::string& key_path, std::string* bytes,
                             const SubtreeWalk& walk = nullptr);

}  // namespace zandrel::regfile
