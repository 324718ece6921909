// The state behind DesktopClasses' calls: the view kept in line with its
// sources, and where each handle leads.
#include <algorithm>
#include <iterator>

#include "freedesktop/DesktopClassesImpl.h"
#include "registry/Codes.h"
#include "registry/Key.h"
#include "registry/Names.h"

namespace zandrel::freedesktop {

namespace {

Node Leaf(const std::string& name, const std::string& text) {
  Node node{name, {Value{"", REG_SZ, text + '\0'}}, {}};
  return node;
}

void AddChild(Node& parent, Node child) {
  const std::string upper = registry::UpperName(child.name);
  parent.children.push_back({upper, std::move(child)});
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
  for (auto& [upper, node] : top) root->children.push_back({upper, std::move(node)});
  return root;
}

}  // namespace

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

bool DesktopClasses::Impl::Refresh() {
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

const Node* DesktopClasses::Impl::ViewRoot() {
  if (!view) Refresh();
  return view.get();
}

bool DesktopClasses::Impl::Get(HKEY h, Handle* out) {
  switch (h) {
    case HKEY_CLASSES_ROOT:
      *out = Handle{Kind::kClassesRoot, h, 0, KEY_ALL_ACCESS, nullptr, nullptr};
      out->node = ViewRoot();
      out->view = view;
      return true;
    case HKEY_LOCAL_MACHINE: *out = Handle{Kind::kOnTheWay, h, 0, KEY_ALL_ACCESS, nullptr, nullptr}; return true;
    case HKEY_CURRENT_USER:
    case HKEY_USERS: *out = Handle{Kind::kOther, h, 0, KEY_ALL_ACCESS, nullptr, nullptr}; return true;
    default: {
      auto it = handles.find(h);
      if (it == handles.end()) return false;
      *out = it->second;
      return true;
    }
  }
}

HKEY DesktopClasses::Impl::Add(Handle handle) {
  while (handles.count(next) != 0 || next == 0 || (next & 0x80000000u) != 0) next = (next + 1) & 0x7FFFFFFFu;
  const HKEY h = next++;
  handles.emplace(h, std::move(handle));
  return h;
}

Place DesktopClasses::Impl::Locate(const Handle& parent, const char* path) const {
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

bool DesktopClasses::Impl::OwnHas(const std::string& top) {
  return registry::Key(own).Open(HKEY_CLASSES_ROOT, top) == ERROR_SUCCESS;
}

const Node* DesktopClasses::Impl::ViewKey(const Node* root, const std::vector<std::string>& below) {
  if (root == nullptr || below.empty()) return nullptr;
  const Node* node = root->Child(registry::UpperName(below[0]));
  if (node == nullptr || OwnHas(below[0])) return nullptr;
  for (std::size_t i = 1; node != nullptr && i < below.size(); ++i) node = node->Child(registry::UpperName(below[i]));
  return node;
}

LONG DesktopClasses::Impl::ChangeRefused(const Handle& parent, const char* path) {
  if (parent.kind == Kind::kView) return registry::kDesktopsOwnKey;
  const Place place = Locate(parent, path);
  if (!place.classes || place.below.empty()) return ERROR_SUCCESS;
  const Node* root = ViewRoot();
  if (root == nullptr) return registry::kDesktopViewUnread;
  return root->Child(registry::UpperName(place.below[0])) != nullptr && !OwnHas(place.below[0])
             ? registry::kDesktopsOwnKey
             : ERROR_SUCCESS;
}

Handle DesktopClasses::Impl::OwnHandle(const Handle& parent, const char* path, HKEY key) {
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

LONG DesktopClasses::Impl::Merge(const Handle& root, Merged& out) {
  out.names.clear();
  std::vector<std::pair<std::string, long>> owned;
  const LONG code = registry::EachSubKey(own, root.own, [&owned](DWORD index, std::string_view name) {
    owned.emplace_back(registry::UpperName(name), static_cast<long>(index));
    return ERROR_SUCCESS;
  });
  if (code != ERROR_SUCCESS) return code;
  const auto& viewed = root.node != nullptr ? root.node->children : std::vector<Node::Entry>{};
  std::size_t a = 0, b = 0;
  while (a < owned.size() || b < viewed.size()) {
    if (b == viewed.size() || (a < owned.size() && owned[a].first <= viewed[b].upper)) {
      if (b < viewed.size() && owned[a].first == viewed[b].upper) ++b;  // the hive's key wins
      out.names.push_back(std::move(owned[a++]));
    } else {
      out.names.emplace_back(viewed[b++].upper, -1);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace zandrel::freedesktop
