#include "freedesktop/FreedesktopDesktop.h"

#include <optional>
#include <utility>

#include "registry/Key.h"

namespace zandrel::freedesktop {
namespace {

// The default value of HKEY_CLASSES_ROOT\path when it is a string; "" when
// the key or the value is not there or is no string.
std::string DefaultText(IRegistry& registry, const std::string& path) {
  return registry::ReadText(registry, HKEY_CLASSES_ROOT, path, "").value_or("");
}

std::string StoreRowText(IRegistry& registry, const std::string& extension) {
  const std::string title = DefaultText(registry, extension);
  if (title.empty()) return "no row";
  return extension + " -> " + title + " -> " + DefaultText(registry, title + "\\shell\\open\\command");
}

}  // namespace

FreedesktopDesktop::FreedesktopDesktop(IRegistry& own, IRegistry& hive, XdgPaths paths, ViewReader reader,
                                       StoreRows rows, std::string helper, Log log)
    : own_(own),
      hive_(hive),
      paths_(paths),
      rows_(std::move(rows)),
      helper_(std::move(helper)),
      log_(std::move(log)),
      classes_(own, std::move(paths), std::move(reader)) {}

ProjectionReport FreedesktopDesktop::Project() { return ProjectAssociations(hive_, rows_, paths_); }

integration::Followed FreedesktopDesktop::AfterChange(const std::string& extension, bool committed) {
  if (!committed) return {};
  const ProjectionReport report = Project();
  if (!report.status.Ok() && log_) log_(report.status.message);
  return {FailureMessage(report, extension), report.status.Ok() ? std::string() : report.status.message};
}

// The desktop's chain for the extension, then the row the store shows and
// whose it is, and the desktop's row that Zandrel's own shadows, if any.
status::Status FreedesktopDesktop::Explain(const std::string& extension, std::string* out) {
  std::string chain, error;
  if (!RunHelper(helper_, {"why", extension}, "", &chain, &error)) return {status::Status::kFailed, error};
  *out += chain;
  const bool desktops = classes_.KeyOnlyInDesktopView(HKEY_CLASSES_ROOT, extension.c_str());
  if (!classes_.ViewError().empty()) return {status::Status::kFailed, classes_.ViewError()};
  *out += "store: " + StoreRowText(classes_, extension);
  if (desktops) *out += " (the desktop's, " + classes_.ViewRowFor(extension)->application + ")\n";
  else if (DefaultText(own_, extension).empty()) *out += "\n";
  else *out += " (Zandrel's own)\n";
  const std::optional<ViewRow> row = classes_.ViewRowFor(extension);
  if (!desktops && row)
    *out += "shadowed: the desktop's " + row->extension + " -> " + row->type + " -> " + row->command + " (" +
            row->application + ")\n";
  return {};
}

}  // namespace zandrel::freedesktop
