// A freedesktop desktop (Linux) behind the seam (integration/Desktop.h): the
// classes store is Zandrel's own registry laid over a read-only view of the
// desktop's associations (DesktopClasses.h); after each committed change the
// desktop's files follow the store (DesktopProjection.h); `why` is GIO's chain
// for the extension (the helper's), then the store's row and whose it is.
// Nothing else decides for the user after a change.
#pragma once

#include <functional>
#include <string>

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
};

}  // namespace zandrel::freedesktop
