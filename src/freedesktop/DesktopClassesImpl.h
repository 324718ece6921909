// The parts of DesktopClasses its files share: the view as a tree of keys,
// where each handle leads, and the state behind the calls.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "freedesktop/DesktopClasses.h"

namespace zandrel::freedesktop {

struct Value {
  std::string name;
  DWORD type = REG_SZ;
  std::string data;
};

struct Node {
  // A child and its upper-cased name. Not a std::pair: with clang, a pair
  // holding a Node asks whether a Node can be made and destroyed, which
  // needs that pair complete, through `children`, while it is being made.
  struct Entry;

  std::string name;
  std::vector<Value> values;
  std::vector<Entry> children;  // by upper-cased name, the registry's order

  // The child of that upper-cased name; null when there is none.
  const Node* Child(const std::string& upper) const;
};

struct Node::Entry {
  std::string upper;
  Node node;
};

inline const Node* Node::Child(const std::string& upper) const {
  auto it = std::lower_bound(children.begin(), children.end(), upper,
                             [](const Entry& child, const std::string& u) { return child.upper < u; });
  return it != children.end() && it->upper == upper ? &it->node : nullptr;
}

// Where a handle's key lies. kOnTheWay: HKEY_LOCAL_MACHINE (depth 0) or its
// SOFTWARE (depth 1), from which a path may reach the classes root.
enum class Kind { kOther, kOnTheWay, kClassesRoot, kOwn, kView };

struct Handle {
  Kind kind = Kind::kOther;
  HKEY own = 0;  // the hive's handle; 0 for a key of the view
  int depth = 0;
  REGSAM access = KEY_ALL_ACCESS;
  std::shared_ptr<const Node> view;  // the view the handle was opened on
  const Node* node = nullptr;        // kView: the key; kClassesRoot: the view's root
};

// The classes root's subkeys, the hive's and the view's merged, kept from
// the enumeration's index 0 on: the hive's index for its own names, -1 for
// the view's.
struct Merged {
  std::vector<std::pair<std::string, long>> names;
};

struct Place {
  bool classes = false;      // at or below the classes root
  Kind kind = Kind::kOther;  // for a key outside the classes
  int depth = 0;
  std::vector<std::string> below;  // the components below the classes root
};

// The non-empty components of a key path: "a\\b\\" gives a and b.
std::vector<std::string> Components(const char* path);

struct DesktopClasses::Impl {
  Impl(IRegistry& o, XdgPaths p, ViewReader r) : own(o), paths(std::move(p)), reader(std::move(r)) {}

  IRegistry& own;
  XdgPaths paths;
  ViewReader reader;
  std::shared_ptr<const Node> view;
  std::vector<ViewRow> rows;                        // what the view was built from
  std::map<std::string, std::string> descriptions;  // type -> description, while mimeStamp holds
  std::string mimeStamp, stamp;
  std::set<std::string> lists;  // MimeAppsLines as the view last saw them
  std::string listsStamp;       // and the files' identities then
  std::string failedStamp;      // the sources as they were when a build failed
  std::size_t builds = 0;
  std::string error;
  std::unordered_map<HKEY, Handle> handles;
  std::unordered_map<HKEY, Merged> merged;
  HKEY next = 0x100;

  // Brings the view in line with its sources; false when it cannot be built.
  bool Refresh();
  // The view, built first when there is none; null when it cannot be.
  const Node* ViewRoot();
  // What handle `h` (a root or one handed out) leads to; false when unknown.
  bool Get(HKEY h, Handle* out);
  // Hands out a new handle for `handle`.
  HKEY Add(Handle handle);
  // Where parent\path lies.
  Place Locate(const Handle& parent, const char* path) const;
  // Whether the hive holds the classes root's subkey `top`.
  bool OwnHas(const std::string& top);

  // The view's key at `below` (from the classes root) when its top-level key
  // is the view's, else null.
  const Node* ViewKey(const Node* root, const std::vector<std::string>& below);

  // Whether a change at root\path (or below it) may go ahead: 0;
  // registry::kDesktopsOwnKey when it would touch a key of the view;
  // registry::kDesktopViewUnread when it reaches the classes and the view
  // cannot be read, so that no key of it can be told apart.
  LONG ChangeRefused(const Handle& parent, const char* path);

  // The handle of a key the hive opened or created from `parent`.
  Handle OwnHandle(const Handle& parent, const char* path, HKEY key);

  // The classes root's subkeys, the hive's and the view's, in the registry's order.
  LONG Merge(const Handle& root, Merged& out);
};

}  // namespace zandrel::freedesktop
