// The journal's bulk writes: made through its own calls, so that each is
// recorded before it is made, with a tree's deletions announced a run at a
// time (WillWrite), so that a large tree costs a flush a run, not one a key.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/UndoJournal.h"
#include "registry/Defaults.h"
#include "registry/Key.h"
#include "registry/KeyPath.h"
#include "registry/Subtree.h"

namespace zandrel::capture {
namespace {

// The paths of the keys a walk hands over.
class TreeKeys : public registry::SubtreeVisitor {
 public:
  TreeKeys(std::string title, std::vector<std::string>* paths) : path_(std::move(title)), paths_(*paths) {}
  void Key(std::size_t depth, std::string_view name) override { paths_.push_back(path_.Enter(depth, name)); }
  void Value(std::string_view, DWORD, std::string_view) override {}

 private:
  registry::WalkPath path_;
  std::vector<std::string>& paths_;
};

}  // namespace

LONG JournalledRegistry::ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) {
  return IRegistry::ApplyChanges(changes, failed);
}

LONG JournalledRegistry::DeleteTrees(const std::vector<registry::KeyPath>& keys,
                                     const std::function<void(std::size_t keys)>& deleted) {
  for (const registry::KeyPath& tree : keys) {
    registry::Key key(*inner_);  // a read, which the journal need not see
    LONG code = key.Open(tree.root, tree.path);
    if (code == ERROR_FILE_NOT_FOUND) continue;
    if (code != ERROR_SUCCESS) return code;
    std::vector<std::string> paths;
    TreeKeys collect(tree.path, &paths);
    code = inner_->WalkSubtree(key.Handle(), collect);
    key.Close();  // before the tree goes
    if (code != ERROR_SUCCESS) return code;
    for (std::size_t from = 0; from < paths.size(); from += kAnnouncedRun) {
      std::vector<PlannedWrite> run;
      for (std::size_t i = from; i < paths.size() && i < from + kAnnouncedRun; ++i)
        run.push_back({PlannedWrite::Kind::kDeleteKey, tree.root, paths[i], {}, 0, {}});
      WillWrite(run);
    }
    if (code = registry::DeleteKeyTree(*this, tree.root, tree.path, deleted); code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

}  // namespace zandrel::capture
