// The desktop's own associations as rows of the classes store: what GIO (the
// reference implementation of the shared MIME database and of the
// mimeapps.list rules) says opens each extension here. Computed by a helper
// process, zandrel-desktop-view, so that every computation starts from the
// files as they are now (GIO in a long-running process answers from caches
// it refreshes seconds later).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zandrel::freedesktop {

// One extension of the view. The store shows it as
//   .E                       (default) = type
//   type                     (default) = description
//   type\shell\open\command  (default) = command
//   type\DefaultIcon         (default) = icon   (no key when empty)
struct ViewRow {
  std::string extension;    // ".e": the simple glob's extension, lower-cased
  std::string type;         // the type GIO guesses for a file named "x.e"
  std::string description;  // the type's description in the user's language
  std::string command;      // the default application's Exec, in the Windows form
  std::string icon;         // the application's icon (a theme name or a path)
  std::string application;  // the default application's desktop entry id ("vim.desktop")
  bool operator==(const ViewRow&) const = default;
};

// The helper's output: each field followed by a NUL, six fields a row, then
// "end of rows: N" and a NUL.
std::string EncodeRows(const std::vector<ViewRow>& rows);
// Null when `bytes` is not a whole number of rows ended as EncodeRows ends them.
std::optional<std::vector<ViewRow>> DecodeRows(const std::string& bytes);

}  // namespace zandrel::freedesktop
