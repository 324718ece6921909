// The projection of the classes store into the user's freedesktop data, so
// that file managers, xdg-open and gio open what Zandrel associates:
//   $XDG_DATA_HOME/mime/packages/zandrel.xml      private MIME types
//   $XDG_DATA_HOME/applications/zandrel-<id>.desktop  one entry per extension
//   $XDG_CONFIG_HOME/mimeapps.list                 the defaults, one line a type
// Every run reconciles all three with the store as it is now, so a run that
// was killed half-way is finished by the next one. Each file is replaced by
// renaming a finished temporary file over it; other programs' files and lines
// are never touched.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "freedesktop/DesktopMapping.h"
#include "registry/Registry.h"
#include "status/Status.h"

namespace zandrel::freedesktop {

struct XdgPaths {
  std::string dataHome;                 // $XDG_DATA_HOME, or ~/.local/share
  std::string configHome;               // $XDG_CONFIG_HOME, or ~/.config
  std::vector<std::string> dataDirs;    // $XDG_DATA_DIRS, or /usr/local/share and /usr/share
  std::vector<std::string> configDirs;  // $XDG_CONFIG_DIRS, or /etc/xdg
  std::vector<std::string> desktops;    // $XDG_CURRENT_DESKTOP's parts, lower-cased
  // Empty dataHome or configHome when neither the variable nor HOME is set.
  static XdgPaths FromEnvironment();
};

struct ProjectionReport {
  std::size_t projected = 0;     // associations that open files on this desktop
  std::size_t skipped = 0;       // listed associations whose program is not here
  std::size_t filesChanged = 0;  // files written or removed by this run
  status::Status status;         // Ok() on success; else its message names the first file or tool that failed
  // Every association that does not open files here: those skipped, and
  // those whose files could not be written.
  std::vector<ProjectionFailure> failures;
  status::Status shared;  // a failure that concerns them all (a tool, an entry to withdraw)
};

// The window's message when the change of `extension` (with or without its
// dot; "" for a change of several) did not reach the desktop, in the program's
// language; "" when it did.
std::string FailureMessage(const ProjectionReport& report, const std::string& extension);

// The other programs' "*.ext" globs of the MIME databases of `paths` (lower-
// cased extension -> the type of its first glob), and, when `own` is not
// null, Zandrel's private types found there.
std::map<std::string, std::string> ReadSystemGlobs(const XdgPaths& paths, std::set<std::string>* own);

// The mimeapps.list files in the order the rules consult them, each with
// whether it is desktop-specific (and so may only set defaults).
std::vector<std::pair<std::string, bool>> MimeAppsFiles(const XdgPaths& paths);

// The store's rows as its listing reads them through `registry` (the
// program's assembly gives store::AssociationListing's); null when the
// classes store cannot be read.
using StoreRows = std::function<std::optional<std::vector<StoreRow>>(IRegistry& registry)>;

// Reads the store through `rows` and brings the files in line with it,
// then runs update-mime-database and update-desktop-database where they are
// installed and needed, with this process's environment. A store that cannot
// be read changes nothing; a file that cannot be written stops only the
// associations it carries.
ProjectionReport ProjectAssociations(IRegistry& registry, const StoreRows& rows, const XdgPaths& paths);

}  // namespace zandrel::freedesktop
