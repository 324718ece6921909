// The classes store on a Linux desktop: Zandrel's own hive over a read-only
// view of the desktop's associations (DesktopView.h), as Windows puts a
// user's classes over the machine's. Under HKEY_CLASSES_ROOT (and
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, the same store) a top-level key that
// the hive holds is the hive's, whole, subkeys and all; one that only the
// view holds is the view's. The classes root enumerates both in the
// registry's order. Every other key is the hive's.
//
// A change to a key of the view (set or delete a value, create or delete a
// key in it, create it) answers ERROR_ACCESS_DENIED and changes nothing; so
// does creating or deleting any key of the classes while the view cannot be
// read, as the key might shadow one of the view's.
//
// The view is rebuilt when its sources changed since it was last built (the
// MIME databases, every level's mimeapps.list files, the application
// folders), checked when a handle to the classes root is opened (each
// listing), at BeginTransaction (each add and removal) and by
// KeyOnlyInDesktopView. Handles keep the view they were opened on. When the
// view cannot be built (its helper missing, failing), the classes root opens
// on the hive's keys alone and ViewError() (DesktopViewError()) says why.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "desktop/DesktopProjection.h"
#include "desktop/DesktopView.h"
#include "registry/Change.h"
#include "registry/Registry.h"

namespace zandrel::desktop {

// What a computation of the view may leave out. The types in `described` may
// come with an empty description: the caller has theirs from a build over
// the same MIME databases. With `changed`, only the mimeapps.list lines of
// those types changed since the last view: only the extensions of those
// types (or of their subtypes and aliases) come, those without a program now
// as a row of the extension alone.
struct ViewRequest {
  std::set<std::string> described;
  std::optional<std::set<std::string>> changed;
};

// Computes the view's rows; null with *error set on failure.
using ViewReader = std::function<std::optional<std::vector<ViewRow>>(const ViewRequest& request, std::string* error)>;

// How long the helper may take before it is killed and counted as failed.
inline constexpr int kHelperSeconds = 20;

// Runs `helper` with `args` in this process's environment, `input` on its
// standard input, its standard output into *out. False with *error set when
// it cannot run, fails, or gives no answer in kHelperSeconds.
bool RunHelper(const std::string& helper, const std::vector<std::string>& args, const std::string& input,
               std::string* out, std::string* error);

// Runs the helper program at `helper` (zandrel-desktop-view) in this
// process's environment and reads its rows.
ViewReader HelperReader(const std::string& helper);
// zandrel-desktop-view in the folder of the running program.
std::string HelperBesideProgram();

// One file's identity, size and times, a line of the fingerprints below.
std::string StatLine(const std::string& path);

// Fingerprints of the files the view is computed from: the MIME databases,
// and the application folders (their mimeapps.list files left out);
// identities, sizes and change times. Equal stamps: nothing changed.
std::string MimeStamp(const XdgPaths& paths);
std::string ApplicationsStamp(const XdgPaths& paths);
// The key lines of every mimeapps.list, each as "file NL section NL line".
std::set<std::string> MimeAppsLines(const XdgPaths& paths);

class DesktopClasses : public IRegistry {
 public:
  // `own` must outlive this object.
  DesktopClasses(IRegistry& own, XdgPaths paths, ViewReader reader);
  ~DesktopClasses() override;
  DesktopClasses(const DesktopClasses&) = delete;
  DesktopClasses& operator=(const DesktopClasses&) = delete;

  ZANDREL_REGISTRY_OVERRIDES;
  // The hive's: the view follows the desktop's files by itself.
  LONG QueryChangeCounter(std::uint64_t* counter) override;
  bool KeyOnlyInDesktopView(HKEY hKey, const char* lpSubKey) override;
  std::string DesktopViewError() override { return ViewError(); }
  // The hive's answer (its own one query) with the view's extensions that
  // the hive does not hold, in the registry's order; ERROR_READ_FAULT when
  // the view cannot be built.
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override;

  // Hands over exactly what the walk through the calls would: the store's
  // part read by its own WalkSubtree, the view's keys taken straight from
  // the view, merged in the registry's order.
  LONG WalkSubtree(HKEY key, registry::SubtreeVisitor& visitor) override;
  bool WalkReadsWholeFirst() override;

  // A file's changes checked before an import into the hive makes any:
  // registry::kDesktopsOwnKey with *failed at the first section or deletion
  // that would change a key of the view or, made in the hive, shadow one;
  // registry::kDesktopViewUnread at the first that reaches the classes when
  // the view cannot be read (ViewError() says why); 0 when none would.
  LONG RefuseViewKeys(const std::deque<registry::Change>& changes, const registry::Change** failed);

  // How many times the view has been built; why the last build failed.
  std::size_t ViewBuilds() const;
  const std::string& ViewError() const;
  // The view's row for an extension (".e", any case), if it has one.
  std::optional<ViewRow> ViewRowFor(const std::string& extension);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::desktop
