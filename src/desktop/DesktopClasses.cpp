#include "desktop/DesktopClasses.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <unordered_map>

#include "files/FileRead.h"
#include "registry/Names.h"

extern char** environ;

namespace zandrel::desktop {

namespace {

struct Value {
  std::string name;
  DWORD type = REG_SZ;
  std::string data;
};

struct Node {
  std::string name;
  std::vector<Value> values;
  std::vector<std::pair<std::string, Node>> children;  // by upper-cased name, the registry's order

  const Node* Child(const std::string& upper) const {
    auto it = std::lower_bound(children.begin(), children.end(), upper,
                               [](const auto& child, const std::string& u) { return child.first < u; });
    return it != children.end() && it->first == upper ? &it->second : nullptr;
  }
};

Node Leaf(const std::string& name, const std::string& text) {
  Node node{name, {Value{"", REG_SZ, text + '\0'}}, {}};
  return node;
}

void AddChild(Node& parent, Node child) {
  const std::string upper = registry::UpperName(child.name);
  parent.children.emplace_back(upper, std::move(child));
}

std::shared_ptr<const Node> BuildView(const std::vector<ViewRow>& rows) {
  std::map<std::string, Node> top;  // std::string orders bytes as the hive's index does
  for (const ViewRow& row : rows) {
    top.emplace(registry::UpperName(row.extension), Leaf(row.extension, row.type));
    const std::string upper = registry::UpperName(row.type);
    if (top.count(upper) != 0) continue;
    Node type = Leaf(row.type, row.description);
    if (!row.icon.empty()) AddChild(type, Leaf("DefaultIcon", row.icon));
    Node open{"open", {}, {}};
    AddChild(open, Leaf("command", row.command));
    Node shell{"shell", {}, {}};
    AddChild(shell, std::move(open));
    AddChild(type, std::move(shell));
    top.emplace(upper, std::move(type));
  }
  auto root = std::make_shared<Node>();
  for (auto& [upper, node] : top) root->children.emplace_back(upper, std::move(node));
  return root;
}

std::vector<std::string> Components(const char* path) {
  std::vector<std::string> parts;
  if (path == nullptr) return parts;
  const std::string text = path;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\\', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
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
  bool classes = false;             // at or below the classes root
  Kind kind = Kind::kOther;         // for a key outside the classes
  int depth = 0;
  std::vector<std::string> below;   // the components below the classes root
};

std::string StatLine(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return path + " -\n";
  return path + " " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) +
         " " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
         std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec) + "\n";
}

// A folder and everything in it, subfolders too (desktop entries may lie in
// subfolders), to a bounded depth; mimeapps.list files are followed by their
// lines instead.
void StampFolder(const std::string& folder, int depth, std::string& out) {
  out += StatLine(folder);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    struct stat st {};
    const bool lists = name.size() >= 13 && name.compare(name.size() - 13, 13, "mimeapps.list") == 0;
    if (depth > 0 && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) StampFolder(path, depth - 1, out);
    else if (!lists) out += StatLine(path);
  }
}

}  // namespace

std::string MimeStamp(const XdgPaths& paths) {
  std::string out;
  out += StatLine(paths.dataHome + "/mime/mime.cache") + StatLine(paths.dataHome + "/mime/globs2");
  for (const std::string& dir : paths.dataDirs) out += StatLine(dir + "/mime/mime.cache") + StatLine(dir + "/mime/globs2");
  return out;
}

std::string ApplicationsStamp(const XdgPaths& paths) {
  std::string out;
  StampFolder(paths.dataHome + "/applications", 4, out);
  for (const std::string& dir : paths.dataDirs) StampFolder(dir + "/applications", 4, out);
  return out;
}

std::set<std::string> MimeAppsLines(const XdgPaths& paths) {
  std::set<std::string> lines;
  for (const auto& [file, desktopSpecific] : MimeAppsFiles(paths)) {
    std::string text;
    files::ReadFileWhole(file, &text);  // a file that cannot be read has no lines
    std::string section;
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      std::string line = text.substr(start, end - start);
      start = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] == '[') section = line;
      else if (!line.empty() && line[0] != '#' && line.find('=') != std::string::npos)
        lines.insert(file + "\n" + section + "\n" + line);
    }
  }
  return lines;
}

bool RunHelper(const std::string& helper, const std::vector<std::string>& args, const std::string& input,
               std::string* out, std::string* error) {
  out->clear();
  int pipeFds[2], inputFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    *error = "cannot run " + helper + ": " + std::strerror(errno);
    return false;
  }
  if (::pipe2(inputFds, O_CLOEXEC) != 0) {
    *error = "cannot run " + helper + ": " + std::strerror(errno);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, inputFds[0], STDIN_FILENO);
  std::vector<char*> argv{const_cast<char*>(helper.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  ::close(inputFds[0]);
  // The helper reads all of its input before it writes: no deadlock.
  for (std::size_t done = 0; spawned == 0 && done < input.size();) {
    const ssize_t n = ::write(inputFds[1], input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(inputFds[1]);
  if (spawned == 0) {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      out->append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(pipeFds[0]);
  if (spawned != 0) {
    *error = "cannot run " + helper + ": " + std::strerror(spawned);
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *error = helper + " failed";
  return false;
}

ViewReader HelperReader(const std::string& helper) {
  return [helper](const ViewRequest& request, std::string* error) -> std::optional<std::vector<ViewRow>> {
    std::string input, bytes;
    for (const std::string& type : request.described) input += "d" + type + '\0';
    if (request.changed)
      for (const std::string& type : *request.changed) input += "k" + type + '\0';
    if (!RunHelper(helper, {"--request"}, input, &bytes, error)) return std::nullopt;
    std::optional<std::vector<ViewRow>> rows = DecodeRows(bytes);
    if (!rows) *error = helper + ": output is not a list of rows";
    return rows;
  };
}

std::string HelperBesideProgram() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  return path.substr(0, path.rfind('/') + 1) + "zandrel-desktop-view";
}

struct DesktopClasses::Impl {
  Impl(IRegistry& o, XdgPaths p, ViewReader r) : own(o), paths(std::move(p)), reader(std::move(r)) {}

  IRegistry& own;
  XdgPaths paths;
  ViewReader reader;
  std::shared_ptr<const Node> view;
  std::vector<ViewRow> rows;  // what the view was built from
  std::map<std::string, std::string> descriptions;  // type -> description, while mimeStamp holds
  std::string mimeStamp, stamp;
  std::set<std::string> lists;  // MimeAppsLines as the view last saw them
  std::string listsStamp;       // and the files' identities then
  std::string failedStamp;  // the sources as they were when a build failed
  std::size_t builds = 0;
  std::string error;
  std::unordered_map<HKEY, Handle> handles;
  std::unordered_map<HKEY, Merged> merged;
  HKEY next = 0x100;

  // Brings the view in line with its sources; false when it cannot be built.
  bool Refresh() {
    std::string mime = MimeStamp(paths);
    std::string now = mime + ApplicationsStamp(paths);
    // The lines are read only when a file's identity, size or time changed.
    std::string listsNow;
    for (const auto& [file, desktopSpecific] : MimeAppsFiles(paths)) listsNow += StatLine(file);
    std::set<std::string> lines = listsNow == listsStamp ? lists : MimeAppsLines(paths);
    listsStamp = std::move(listsNow);
    if (view && now == stamp && lines == lists) return true;
    if (!view && !failedStamp.empty() && now == failedStamp && lines == lists) return false;
    ViewRequest request;
    // Descriptions come from the MIME databases alone: while they stand, the
    // helper need not read them again.
    if (mime != mimeStamp) descriptions.clear();
    for (const auto& [type, text] : descriptions) request.described.insert(type);
    // When only mimeapps.list lines changed, only their types' defaults can have.
    if (view && now == stamp) {
      std::vector<std::string> changedLines;
      std::set_symmetric_difference(lines.begin(), lines.end(), lists.begin(), lists.end(),
                                    std::back_inserter(changedLines));
      request.changed.emplace();
      for (const std::string& line : changedLines) {
        std::string text = line.substr(line.rfind('\n') + 1);
        text = text.substr(0, text.find('='));
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.erase(0, 1);
        request.changed->insert(text);
      }
    }
    std::optional<std::vector<ViewRow>> got = reader(request, &error);
    if (!got) {
      view.reset();
      failedStamp = std::move(now);
      lists = std::move(lines);
      return false;
    }
    for (ViewRow& row : *got) {
      auto known = descriptions.find(row.type);
      if (known != descriptions.end()) row.description = known->second;
      else if (!row.type.empty()) descriptions.emplace(row.type, row.description);
    }
    if (request.changed) {
      std::map<std::string, ViewRow> byExtension;
      for (ViewRow& row : rows) byExtension.emplace(row.extension, std::move(row));
      for (ViewRow& row : *got) {
        if (row.command.empty()) byExtension.erase(row.extension);
        else byExtension[row.extension] = std::move(row);
      }
      got->clear();
      for (auto& [extension, row] : byExtension) got->push_back(std::move(row));
    }
    mimeStamp = std::move(mime);
    view = BuildView(*got);
    rows = std::move(*got);
    stamp = std::move(now);
    lists = std::move(lines);
    error.clear();
    ++builds;
    return true;
  }

  const Node* ViewRoot() {
    if (!view) Refresh();
    return view.get();
  }

  bool Get(HKEY h, Handle* out) {
    switch (h) {
      case HKEY_CLASSES_ROOT:
        *out = Handle{Kind::kClassesRoot, h, 0, KEY_ALL_ACCESS, nullptr, nullptr};
        out->node = ViewRoot();
        out->view = view;
        return true;
      case HKEY_LOCAL_MACHINE:
        *out = Handle{Kind::kOnTheWay, h, 0, KEY_ALL_ACCESS, nullptr, nullptr};
        return true;
      case HKEY_CURRENT_USER:
      case HKEY_USERS:
        *out = Handle{Kind::kOther, h, 0, KEY_ALL_ACCESS, nullptr, nullptr};
        return true;
      default: {
        auto it = handles.find(h);
        if (it == handles.end()) return false;
        *out = it->second;
        return true;
      }
    }
  }

  HKEY Add(Handle handle) {
    while (handles.count(next) != 0 || next == 0 || (next & 0x80000000u) != 0) next = (next + 1) & 0x7FFFFFFFu;
    const HKEY h = next++;
    handles.emplace(h, std::move(handle));
    return h;
  }

  Place Locate(const Handle& parent, const char* path) const {
    Place place;
    std::vector<std::string> parts = Components(path);
    if (parent.kind == Kind::kClassesRoot) {
      place.classes = true;
      place.below = std::move(parts);
      return place;
    }
    if (parent.kind != Kind::kOnTheWay) return place;
    static const char* const kWay[] = {"SOFTWARE", "CLASSES"};
    int depth = parent.depth;
    std::size_t i = 0;
    for (; depth < 2 && i < parts.size(); ++depth, ++i)
      if (registry::UpperName(parts[i]) != kWay[depth]) return place;
    if (depth < 2) {
      place.kind = Kind::kOnTheWay;
      place.depth = depth;
      return place;
    }
    place.classes = true;
    place.below.assign(parts.begin() + static_cast<std::ptrdiff_t>(i), parts.end());
    return place;
  }

  bool OwnHas(const std::string& top) {
    HKEY key = 0;
    if (own.RegOpenKeyExA(HKEY_CLASSES_ROOT, top.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    own.RegCloseKey(key);
    return true;
  }

  // The view's key at `below` (from the classes root) when its top-level key
  // is the view's, else null.
  const Node* ViewKey(const Node* root, const std::vector<std::string>& below) {
    if (root == nullptr || below.empty()) return nullptr;
    const Node* node = root->Child(registry::UpperName(below[0]));
    if (node == nullptr || OwnHas(below[0])) return nullptr;
    for (std::size_t i = 1; node != nullptr && i < below.size(); ++i) node = node->Child(registry::UpperName(below[i]));
    return node;
  }

  // Whether a change at root\path (or below it) would touch a key of the view.
  bool ViewHolds(const Handle& parent, const char* path) {
    if (parent.kind == Kind::kView) return true;
    const Place place = Locate(parent, path);
    if (!place.classes || place.below.empty()) return false;
    const Node* root = ViewRoot();
    return root != nullptr && root->Child(registry::UpperName(place.below[0])) != nullptr && !OwnHas(place.below[0]);
  }

  // The handle of a key the hive opened or created from `parent`.
  Handle OwnHandle(const Handle& parent, const char* path, HKEY key) {
    Handle handle;
    handle.own = key;
    if (parent.kind == Kind::kOwn || parent.kind == Kind::kOther) {
      handle.kind = parent.kind;
      return handle;
    }
    const Place place = Locate(parent, path);
    handle.kind = !place.classes ? place.kind : place.below.empty() ? Kind::kClassesRoot : Kind::kOwn;
    handle.depth = place.depth;
    if (handle.kind == Kind::kClassesRoot) {
      handle.view = view;
      handle.node = view.get();
    }
    return handle;
  }

  LONG Merge(const Handle& root, Merged& out) {
    out.names.clear();
    std::vector<std::pair<std::string, long>> owned;
    char name[1024];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      const LONG code = own.RegEnumKeyExA(root.own, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (code == ERROR_NO_MORE_ITEMS) break;
      if (code != ERROR_SUCCESS) return code;
      owned.emplace_back(registry::UpperName(std::string_view(name, length)), static_cast<long>(i));
    }
    const auto& viewed = root.node != nullptr ? root.node->children : std::vector<std::pair<std::string, Node>>{};
    std::size_t a = 0, b = 0;
    while (a < owned.size() || b < viewed.size()) {
      if (b == viewed.size() || (a < owned.size() && owned[a].first <= viewed[b].first)) {
        if (b < viewed.size() && owned[a].first == viewed[b].first) ++b;  // the hive's key wins
        out.names.push_back(std::move(owned[a++]));
      } else {
        out.names.emplace_back(viewed[b++].first, -1);
      }
    }
    return ERROR_SUCCESS;
  }
};

namespace {

LONG CopyName(const std::string& name, char* lpName, DWORD* lpcchName) {
  if (name.size() >= *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.data(), name.size());
  lpName[name.size()] = '\0';
  *lpcchName = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

}  // namespace

DesktopClasses::DesktopClasses(IRegistry& own, XdgPaths paths, ViewReader reader)
    : impl_(std::make_unique<Impl>(own, std::move(paths), std::move(reader))) {}

DesktopClasses::~DesktopClasses() {
  for (auto& [h, handle] : impl_->handles)
    if (handle.own != 0) impl_->own.RegCloseKey(handle.own);
}

LONG DesktopClasses::RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                   HKEY* phkResult) {
  Impl& m = *impl_;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  Handle parent;
  if (!m.Get(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if (parent.kind == Kind::kView) {
    const Node* node = parent.node;
    for (const std::string& part : Components(lpSubKey)) {
      node = node->Child(registry::UpperName(part));
      if (node == nullptr) return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = m.Add(Handle{Kind::kView, 0, 0, samDesired, parent.view, node});
    return ERROR_SUCCESS;
  }
  const Place place = m.Locate(parent, lpSubKey);
  if (place.classes && place.below.empty() && !m.Refresh()) return ERROR_READ_FAULT;
  if (place.classes && !place.below.empty()) {
    if (const Node* node = m.ViewKey(m.ViewRoot(), place.below)) {
      *phkResult = m.Add(Handle{Kind::kView, 0, 0, samDesired, m.view, node});
      return ERROR_SUCCESS;
    }
  }
  HKEY key = 0;
  const LONG code = m.own.RegOpenKeyExA(parent.own, lpSubKey, ulOptions, samDesired, &key);
  if (code != ERROR_SUCCESS) return code;
  Handle handle = m.OwnHandle(parent, lpSubKey, key);
  handle.access = samDesired;
  *phkResult = m.Add(std::move(handle));
  return ERROR_SUCCESS;
}

LONG DesktopClasses::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                                   char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
  Impl& m = *impl_;
  if (lpName == nullptr || lpcchName == nullptr) return ERROR_INVALID_PARAMETER;
  Handle handle;
  if (!m.Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  auto viewAnswer = [&](const Node& child) {
    if (!(handle.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    const LONG code = CopyName(child.name, lpName, lpcchName);
    if (code != ERROR_SUCCESS) return code;
    if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
  };
  if (handle.kind == Kind::kView) {
    if (!(handle.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (dwIndex >= handle.node->children.size()) return ERROR_NO_MORE_ITEMS;
    return viewAnswer(handle.node->children[dwIndex].second);
  }
  if (handle.kind != Kind::kClassesRoot || handle.node == nullptr)
    return m.own.RegEnumKeyExA(handle.own, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                               lpftLastWriteTime);
  // The merged names are taken at index 0, as a walk begins.
  Merged& merged = m.merged[hKey];
  if (dwIndex == 0 || merged.names.empty()) {
    if (const LONG code = m.Merge(handle, merged); code != ERROR_SUCCESS) return code;
  }
  if (dwIndex >= merged.names.size()) return ERROR_NO_MORE_ITEMS;
  const auto& [upper, ownIndex] = merged.names[dwIndex];
  if (ownIndex >= 0)
    return m.own.RegEnumKeyExA(handle.own, static_cast<DWORD>(ownIndex), lpName, lpcchName, lpReserved, lpClass,
                               lpcchClass, lpftLastWriteTime);
  return viewAnswer(*handle.node->Child(upper));
}

LONG DesktopClasses::RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                                   DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
  Impl& m = *impl_;
  if (lpValueName == nullptr || lpcchValueName == nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Handle handle;
  if (!m.Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.kind != Kind::kView)
    return m.own.RegEnumValueA(handle.own, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                               lpcbData);
  if (!(handle.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (dwIndex >= handle.node->values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = handle.node->values[dwIndex];
  if (value.name.size() >= *lpcchValueName || (lpData != nullptr && value.data.size() > *lpcbData)) {
    // As the hive: the type and the data's size are told all the same.
    if (lpType != nullptr) *lpType = value.type;
    if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(value.data.size());
    return ERROR_MORE_DATA;
  }
  CopyName(value.name, lpValueName, lpcchValueName);
  if (lpType != nullptr) *lpType = value.type;
  if (lpData != nullptr) std::memcpy(lpData, value.data.data(), value.data.size());
  if (lpcbData != nullptr) *lpcbData = static_cast<DWORD>(value.data.size());
  return ERROR_SUCCESS;
}

LONG DesktopClasses::RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                                     HKEY* phkResult, DWORD* lpdwDisposition) {
  Impl& m = *impl_;
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  Handle parent;
  if (!m.Get(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if (m.ViewHolds(parent, lpSubKey)) return ERROR_ACCESS_DENIED;
  HKEY key = 0;
  const LONG code = m.own.RegCreateKeyExA(parent.own, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                          lpSecurityAttributes, &key, lpdwDisposition);
  if (code != ERROR_SUCCESS) return code;
  Handle handle = m.OwnHandle(parent, lpSubKey, key);
  handle.access = samDesired;
  *phkResult = m.Add(std::move(handle));
  return ERROR_SUCCESS;
}

LONG DesktopClasses::RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                                    const BYTE* lpData, DWORD cbData) {
  Handle handle;
  if (!impl_->Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.kind == Kind::kView) return ERROR_ACCESS_DENIED;
  return impl_->own.RegSetValueExA(handle.own, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG DesktopClasses::RegDeleteKeyA(HKEY hKey, const char* lpSubKey) {
  Handle parent;
  if (!impl_->Get(hKey, &parent)) return ERROR_INVALID_HANDLE;
  if (impl_->ViewHolds(parent, lpSubKey)) return ERROR_ACCESS_DENIED;
  return impl_->own.RegDeleteKeyA(parent.own, lpSubKey);
}

LONG DesktopClasses::RegCloseKey(HKEY hKey) {
  Impl& m = *impl_;
  if ((hKey & 0x80000000u) != 0) return m.own.RegCloseKey(hKey);
  auto it = m.handles.find(hKey);
  if (it == m.handles.end()) return ERROR_INVALID_HANDLE;
  const HKEY own = it->second.own;
  m.handles.erase(it);
  m.merged.erase(hKey);
  return own != 0 ? m.own.RegCloseKey(own) : ERROR_SUCCESS;
}

LONG DesktopClasses::RegDeleteValueA(HKEY hKey, const char* lpValueName) {
  Handle handle;
  if (!impl_->Get(hKey, &handle)) return ERROR_INVALID_HANDLE;
  if (handle.kind == Kind::kView) return ERROR_ACCESS_DENIED;
  return impl_->own.RegDeleteValueA(handle.own, lpValueName);
}

LONG DesktopClasses::BeginTransaction() {
  impl_->Refresh();
  return impl_->own.BeginTransaction();
}

LONG DesktopClasses::CommitTransaction() { return impl_->own.CommitTransaction(); }

void DesktopClasses::RollbackTransaction() { impl_->own.RollbackTransaction(); }

bool DesktopClasses::KeyOnlyInDesktopView(HKEY hKey, const char* lpSubKey) {
  Impl& m = *impl_;
  Handle parent;
  if (!m.Refresh() || !m.Get(hKey, &parent)) return false;
  if (parent.kind == Kind::kView) return true;
  const Place place = m.Locate(parent, lpSubKey);
  return place.classes && m.ViewKey(m.ViewRoot(), place.below) != nullptr;
}

namespace {

// Hands the view's key `node` and its subtree to `visitor`, `node` at `depth`.
void VisitViewKey(const Node& node, std::size_t depth, regfile::SubtreeVisitor& visitor) {
  visitor.Key(depth, node.name);
  for (const Value& value : node.values) visitor.Value(value.name, value.type, value.data);
  for (const auto& [upper, child] : node.children) VisitViewKey(child, depth + 1, visitor);
}

void CountViewKey(const Node& node, std::size_t* keys, std::size_t* values, std::size_t* bytes) {
  ++*keys;
  *bytes += node.name.size();
  for (const Value& value : node.values) {
    ++*values;
    *bytes += value.name.size() + value.data.size();
  }
  for (const auto& [upper, child] : node.children) CountViewKey(child, keys, values, bytes);
}

// Passes the hive's walk of the classes root on, putting each of the view's
// top-level keys (those the hive does not hold) before the first of the
// hive's that sorts after it.
class MergingVisitor : public regfile::SubtreeVisitor {
 public:
  MergingVisitor(regfile::SubtreeVisitor& out, std::vector<const Node*> view) : out_(out), view_(std::move(view)) {}
  void Key(std::size_t depth, std::string_view name) override {
    if (depth == 1) Flush(registry::UpperName(name));
    out_.Key(depth, name);
  }
  void Value(std::string_view name, DWORD type, std::string_view data) override { out_.Value(name, type, data); }
  void Expect(std::size_t keys, std::size_t values, std::size_t bytes) override {
    for (const Node* node : view_) CountViewKey(*node, &keys, &values, &bytes);
    out_.Expect(keys, values, bytes);
  }
  // The view's keys sorting before `upper`; all that are left without it.
  void Flush(const std::string& upper = std::string()) {
    for (; next_ < view_.size(); ++next_) {
      if (!upper.empty() && !(registry::UpperName(view_[next_]->name) < upper)) break;
      VisitViewKey(*view_[next_], 1, out_);
    }
  }

 private:
  regfile::SubtreeVisitor& out_;
  std::vector<const Node*> view_;  // in the registry's order
  std::size_t next_ = 0;
};

}  // namespace

LONG DesktopClasses::WalkSubtree(HKEY key, regfile::SubtreeVisitor& visitor, const regfile::SubtreeWalk& hiveWalk) {
  Impl& m = *impl_;
  Handle handle;
  if (!m.Get(key, &handle)) return ERROR_INVALID_HANDLE;
  const bool hivesAlone = handle.kind == Kind::kOther || handle.kind == Kind::kOwn ||
                          (handle.kind == Kind::kClassesRoot && handle.node == nullptr);
  if (hivesAlone && hiveWalk) return hiveWalk(handle.own, visitor);
  if (handle.kind != Kind::kClassesRoot || !hiveWalk) return regfile::WalkSubtree(*this, key, visitor);
  std::vector<const Node*> view;
  for (const auto& [upper, child] : handle.node->children)
    if (!m.OwnHas(child.name)) view.push_back(&child);
  MergingVisitor merging(visitor, std::move(view));
  const LONG code = hiveWalk(handle.own, merging);
  if (code == ERROR_SUCCESS) merging.Flush();
  return code;
}

std::size_t DesktopClasses::ViewBuilds() const { return impl_->builds; }

const std::string& DesktopClasses::ViewError() const { return impl_->error; }

std::optional<ViewRow> DesktopClasses::ViewRowFor(const std::string& extension) {
  Impl& m = *impl_;
  if (!m.Refresh()) return std::nullopt;
  const std::string upper = registry::UpperName(extension);
  for (const ViewRow& row : m.rows)
    if (registry::UpperName(row.extension) == upper) return row;
  return std::nullopt;
}

}  // namespace zandrel::desktop
