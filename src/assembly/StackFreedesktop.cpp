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
#include "registry/Change.h"
#include "registry/ForwardingRegistry.h"
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
  if (options.viewAhead)
    *first = std::async(std::launch::async, [helper] {
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

// The hive as the history writes to it: a file's changes (an import's) that
// would change or shadow one of the desktop's own keys are refused, for the
// hive would hide the desktop's association for good; nor does a file reach
// the classes while the view cannot be read. The view is computed only for a
// file that reaches the classes.
class ViewKeysRefused : public ForwardingRegistry {
 public:
  ViewKeysRefused(IRegistry& hive, freedesktop::FreedesktopDesktop& desktop)
      : ForwardingRegistry(hive), desktop_(desktop) {}
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override {
    unread_ = false;
    if (const LONG code = desktop_.Overlay().RefuseViewKeys(changes, failed); code != ERROR_SUCCESS) {
      unread_ = code == registry::kDesktopViewUnread;
      return code;
    }
    return Target().ApplyChanges(changes, failed);
  }
  bool Unread() const { return unread_; }

 private:
  freedesktop::FreedesktopDesktop& desktop_;
  bool unread_ = false;
};

class FreedesktopStack : public Stack {
 public:
  // Over `hive`; owns it when `owned`.
  FreedesktopStack(hive::HiveRegistry& hive, std::unique_ptr<hive::HiveRegistry> owned, const Options& options)
      : owned_(std::move(owned)),
        hive_(hive),
        refusing_(hive, desktop_),
        history_(refusing_),
        desktop_(history_, hive, freedesktop::XdgPaths::FromEnvironment(), Reader(options), ListedRows,
                 freedesktop::HelperBesideProgram(), options.log) {
    // Beside the hive, as SQLite keeps its own journal.
    history_.JournalFilesAt(hive.Path() + ".files");
    history_.HoldFilesWith([this] { return desktop_.HoldFiles(); });
    desktop_.KeepFilesIn([this](capture::FileRecord files, capture::FileContents contents, std::string* failure) {
      history_.AttachFiles(std::move(files), std::move(contents), failure);
    });
  }

  IRegistry& Store() override { return hive_; }
  capture::HistoryRegistry& History() override { return history_; }
  integration::Desktop& Desktop() override { return desktop_; }
  freedesktop::FreedesktopDesktop& Freedesktop() { return desktop_; }
  // The hive reads a whole subtree in a few scans rather than a call per key.
  void PrepareWalk() override { hive_.PrepareWalk(); }
  bool ChangesRefusedUnread() const override { return refusing_.Unread(); }

 private:
  std::unique_ptr<hive::HiveRegistry> owned_;
  hive::HiveRegistry& hive_;
  ViewKeysRefused refusing_;  // reaches desktop_ only once a change is made
  capture::HistoryRegistry history_;
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
  const status::Status opened =
      mode == Mode::kWrite ? hive::OpenHive(path, &hive) : hive::OpenHiveForReading(path, &hive);
  if (!opened.Ok()) return opened;
  hive::HiveRegistry& own = *hive;
  auto opening = std::make_unique<FreedesktopStack>(own, std::move(hive), options);
  // A change that died between its files and its commit is put right before anything reads them.
  if (mode == Mode::kWrite) opening->History().RepairFiles();
  *stack = std::move(opening);
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
