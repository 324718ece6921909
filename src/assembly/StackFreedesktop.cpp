// The stack on Linux: the hive, its history, and a freedesktop desktop's
// view laid over them.
#include "assembly/Stack.h"
#include "assembly/FreedesktopRows.h"

#include <unistd.h>

#include <cerrno>
#include <future>
#include <optional>
#include <utility>
#include <vector>

#include "freedesktop/FreedesktopDesktop.h"
#include "regfile/RegParser.h"
#include "registry/Codes.h"
#include "registry/hive/Hive.h"
#include "store/AssociationListing.h"

namespace zandrel::assembly {
namespace {

using freedesktop::ViewReader;
using freedesktop::ViewRequest;
using freedesktop::ViewRow;

// The helper's reader; with `ahead`, its first whole view is computed at
// once, in a process of its own, while this one reads the hive. A view
// asked with less to compute, or later, is asked afresh.
ViewReader Reader(const Options& options) {
  ViewReader helper = freedesktop::HelperReader(freedesktop::HelperBesideProgram());
  using View = std::pair<std::optional<std::vector<ViewRow>>, std::string>;
  auto first = std::make_shared<std::future<View>>();
  if (options.viewAhead) *first = std::async(std::launch::async, [helper] {
    View view;
    view.first = helper(ViewRequest{}, &view.second);
    return view;
  });
  return [helper, first, log = options.log](const ViewRequest& request, std::string* error) {
    std::optional<std::vector<ViewRow>> rows;
    if (first->valid() && request.described.empty() && !request.changed) {
      View view = first->get();
      *error = view.second;
      rows = std::move(view.first);
    } else {
      rows = helper(request, error);
    }
    if (!rows && log) log(*error);
    return rows;
  };
}

class FreedesktopStack : public Stack {
 public:
  // Over `hive`; owns it when `owned`.
  FreedesktopStack(hive::HiveRegistry& hive, std::unique_ptr<hive::HiveRegistry> owned, const Options& options)
      : owned_(std::move(owned)),
        hive_(hive),
        history_(hive, hive.Fast()),
        desktop_(history_, hive, freedesktop::XdgPaths::FromEnvironment(), Reader(options), ListedRows,
                 freedesktop::HelperBesideProgram(), options.log) {}

  IRegistry& Store() override { return hive_; }
  store::HistoryRegistry& History() override { return history_; }
  integration::Desktop& Desktop() override { return desktop_; }
  freedesktop::FreedesktopDesktop& Freedesktop() { return desktop_; }

  // The hive reads a whole subtree in a few scans rather than a call per key.
  regfile::SubtreeWalk Walk(bool classes) override {
    hive_.PrepareWalk();
    regfile::SubtreeWalk walk = hive_.Fast().walk;
    if (!classes) return walk;
    return [this, walk](HKEY key, regfile::SubtreeVisitor& visitor) {
      return desktop_.Overlay().WalkSubtree(key, visitor, walk);
    };
  }

  // The hive writes what a file adds in a few statements rather than several
  // per line, each key's state noted in the history first. A line that would
  // change or shadow one of the desktop's own keys refuses the file: the hive
  // would hide the desktop's association for good; nor does a file reach the
  // classes while the view cannot be read. The view is computed only for a
  // file that reaches the classes.
  regfile::ChangesApply ImportApply(bool* viewUnread) override {
    *viewUnread = false;
    return [this, viewUnread](const std::deque<regfile::RegChange>& changes, const regfile::RegChange** failed) {
      if (const LONG code = desktop_.Overlay().RefuseViewKeys(changes, failed); code != ERROR_SUCCESS) {
        *viewUnread = code == registry::kDesktopViewUnread;
        return code;
      }
      for (const regfile::RegChange& change : changes) {
        if (change.kind != regfile::RegChange::kKey && change.kind != regfile::RegChange::kDeleteKey) continue;
        const LONG code = history_.Touch(change.root, change.path, change.kind == regfile::RegChange::kDeleteKey);
        if (code != ERROR_SUCCESS) {
          *failed = &change;
          return code;
        }
      }
      return hive_.ApplyRegChanges(changes, failed);
    };
  }

 private:
  std::unique_ptr<hive::HiveRegistry> owned_;
  hive::HiveRegistry& hive_;
  store::HistoryRegistry history_;
  freedesktop::FreedesktopDesktop desktop_;
};

}  // namespace

std::optional<std::vector<freedesktop::StoreRow>> ListedRows(IRegistry& registry) {
  const store::ListingResult listing = store::AssociationListing(registry).List();
  if (!listing.classesKeyOpened) return std::nullopt;
  std::vector<freedesktop::StoreRow> rows;
  rows.reserve(listing.rows.size());
  for (const store::AssociationRow& row : listing.rows) rows.push_back({row.extension, row.description, row.command});
  return rows;
}

status::Status Open(Mode mode, std::unique_ptr<Stack>* stack, const Options& options) {
  stack->reset();
  std::unique_ptr<hive::HiveRegistry> hive;
  const std::string path = hive::DefaultHivePath();
  const status::Status opened = mode == Mode::kWrite ? hive::OpenHive(path, &hive) : hive::OpenHiveForReading(path, &hive);
  if (!opened.Ok()) return opened;
  hive::HiveRegistry& own = *hive;
  *stack = std::make_unique<FreedesktopStack>(own, std::move(hive), options);
  return {};
}

bool StoreExists() { return !(::access(hive::DefaultHivePath().c_str(), F_OK) != 0 && errno == ENOENT); }

status::Status OpenBuilding(const std::function<status::Status(Stack&)>& build, bool* built,
                            std::unique_ptr<Stack>* stack) {
  stack->reset();
  const auto private_build = [&build](hive::HiveRegistry& hive) {
    FreedesktopStack building(hive, nullptr, {});
    return build(building);
  };
  std::unique_ptr<hive::HiveRegistry> hive;
  const status::Status opened = hive::OpenDefaultHive(private_build, built, &hive);
  if (hive == nullptr) return opened;  // also the failure of the file in a new hive
  hive::HiveRegistry& own = *hive;
  *stack = std::make_unique<FreedesktopStack>(own, std::move(hive), Options{});
  return opened;
}

std::string OpenFailure(const status::Status& opened) {
  const std::string path = hive::DefaultHivePath();
  return opened.message.find(path) == std::string::npos ? path + ": " + opened.message : opened.message;
}

bool DesktopKeepsOwnData() { return true; }

status::Status Project(Stack& stack, std::string* summary) {
  const freedesktop::ProjectionReport report = static_cast<FreedesktopStack&>(stack).Freedesktop().Project();
  if (!report.status.Ok()) return report.status;
  *summary = std::to_string(report.projected) + " associations open files on this desktop, " +
             std::to_string(report.skipped) + " have no program here; " + std::to_string(report.filesChanged) +
             " files changed\n";
  return {};
}

}  // namespace zandrel::assembly
