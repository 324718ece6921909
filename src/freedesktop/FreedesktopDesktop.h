// A freedesktop desktop (Linux) behind the seam (integration/Desktop.h): the
// classes store is Zandrel's own registry laid over a read-only view of the
// desktop's associations (DesktopClasses.h); after each committed change the
// desktop's files follow the store (DesktopProjection.h); `why` is GIO's chain
// for the extension (the helper's), then the store's row and whose it is.
// Nothing else decides for the user after a change. An extension of the
// desktop's own changes in the desktop's settings (DesktopDefaults.h), its
// files written in the change's transaction and their lines kept in the
// history beside its keys.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "capture/FileRecord.h"
#include "freedesktop/DesktopClasses.h"
#include "freedesktop/DesktopProjection.h"
#include "integration/Desktop.h"

namespace zandrel::freedesktop {

class FreedesktopDesktop : public integration::Desktop {
 public:
  // Told each failure to follow a change, besides the window's message.
  using Log = std::function<void(const std::string& failure)>;

  // `own` (the hive, or the history over it) is what the classes store lays
  // over the view read by `reader`; `hive`, which the projection reads
  // through `rows` (what the desktop holds already is not written back), is
  // the hive alone. Both must outlive this object. `helper` is
  // zandrel-desktop-view, asked for `why`'s chain.
  FreedesktopDesktop(IRegistry& own, IRegistry& hive, XdgPaths paths, ViewReader reader, StoreRows rows,
                     std::string helper, Log log = {});

  IRegistry& Classes() override { return classes_; }
  DesktopClasses& Overlay() { return classes_; }
  bool KeyIsDesktops(HKEY root, const std::string& path) override {
    return classes_.KeyOnlyInDesktopView(root, path.c_str());
  }
  std::string ViewError() override { return classes_.ViewError(); }
  // The projection, after a committed change only.
  integration::Followed AfterChange(const std::string& extension, bool committed) override;
  status::Status Explain(const std::string& extension, std::string* out) override;
  // The extension's type given the program's entry as its default in
  // $XDG_CONFIG_HOME/mimeapps.list (and the desktop-specific files there
  // that outrank it, where they name the type); a private type of its own
  // first when the type is shared and not `everyExtension`.
  integration::OwnProgramChange ChangeOwnProgram(IRegistry& registry, const std::string& extension,
                                                 const std::string& program, const std::string& command,
                                                 bool everyExtension, bool write) override;
  status::Status Prefer(IRegistry& registry, const std::string& app, std::vector<std::string>* out) override;
  // Defaults of the mimeapps.list files naming no entry here, and entries
  // whose program is not here or needs a terminal there is none of, for the
  // extensions the MIME database gives their types (BrokenDefaults.cpp).
  std::vector<integration::BrokenAssociation> FindBroken(const std::vector<std::string>& extensions) override;
  // The entries named by the user's own mimeapps.list files (in
  // $XDG_CONFIG_HOME) that are not here, taken out of their default lines,
  // a line naming nothing else dropped; the files handed to the history's
  // keeping (KeepFilesIn), which writes them with the caller's commit.
  integration::BrokenRemoval RemoveBroken(IRegistry& registry,
                                          const std::vector<integration::BrokenAssociation>& broken,
                                          std::string* fileFailure) override;

  // Where a change's files go: the history the classes store lays its
  // changes in, which writes them with its commit and keeps their lines
  // (HistoryRegistry::AttachFiles; called inside the transaction). Without
  // it no change of the desktop's own associations is made.
  using FileKeeper =
      std::function<void(capture::FileRecord files, capture::FileContents contents, std::string* failure)>;
  void KeepFilesIn(FileKeeper keeper) { keeper_ = std::move(keeper); }
  // The lock the projection takes over the desktop's files, for the history
  // to hold over each change (HistoryRegistry::HoldFilesWith): a change reads
  // and writes them under it, and so does an undo. ChangeOwnProgram and
  // Prefer take none of their own.
  std::shared_ptr<void> HoldFiles() const;

  // The desktop's files brought in line with the store now.
  ProjectionReport Project();

 private:
  IRegistry& own_;
  IRegistry& hive_;
  XdgPaths paths_;
  StoreRows rows_;
  std::string helper_;
  Log log_;
  DesktopClasses classes_;
  FileKeeper keeper_;
};

}  // namespace zandrel::freedesktop
