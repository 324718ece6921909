// The reading side of the association list: which extensions are registered,
// the title key each one names and the command that opens it. The manager
// window's list command drives it step by step and shows its rows; this class
// only reads the registry and never writes to it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "integration/Desktop.h"
#include "registry/Registry.h"

namespace zandrel::store {

// One row of the association list.
struct AssociationRow {
  std::string extension;    // the extension key's name, with its leading "."
  std::string description;  // the extension key's default value (the title key's name), untrimmed
  std::string command;      // the command key's default value, untrimmed and unexpanded; empty until read
  bool operator==(const AssociationRow&) const = default;
};

inline constexpr const char* kClassesPath = "SOFTWARE\\Classes";

// The caller's side of one listing: called at the points where the list
// command shows its progress. Each does nothing unless overridden.
class ListingSteps {
 public:
  virtual ~ListingSteps() = default;
  // The classes key is open: the listing goes ahead.
  virtual void ClassesKeyOpened() {}
  // The extension names are collected; the rows are made next.
  virtual void ExtensionNamesCollected() {}
  // The rows of the extension pass are made and the classes key is closed.
  virtual void ExtensionPassDone() {}
};

// What one listing found.
struct ListingResult {
  bool classesKeyOpened = false;     // false: nothing was read
  std::size_t extensionRows = 0;     // rows made by the extension pass
  std::vector<AssociationRow> rows;  // the rows with a command, in enumeration order
  std::string viewError;             // why the desktop's own rows are missing (integration::Desktop::ViewError)
};

// Reads the association list: the extensions under
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes whose default value names a title key,
// then each title key's Shell\Open\Command, keeping the rows with a command.
// When the extension pass makes no row, the commands are not read.
class AssociationListing {
 public:
  // `registry` (and `desktop`, which tells why its own rows are missing)
  // must outlive this object.
  explicit AssociationListing(IRegistry& registry, integration::Desktop* desktop = nullptr);
  ~AssociationListing();
  AssociationListing(const AssociationListing&) = delete;
  AssociationListing& operator=(const AssociationListing&) = delete;

  ListingResult List(ListingSteps& steps);
  ListingResult List();

  // As the last listing left them: the 1-based row whose command was read
  // last, and whether the command walk met a key it could not open.
  std::size_t CurrentRow() const { return current_row_; }
  bool WalkStopped() const { return walk_stopped_; }

 private:
  struct ValueBuffers;

  // Appends a row for the extension key root\path when its default value is
  // a REG_SZ that is not blank; the row's extension is the part of the path
  // after its last "\".
  void AddExtensionRow(HKEY root, const std::string& path);
  // Fills the command of row current_row_ from root\path and then, while
  // walk_stopped_ is clear, from its subkeys in turn; sets walk_stopped_ when
  // a key cannot be opened.
  void WalkCommandKey(HKEY root, const std::string& path);
  // Sets the command of row current_row_ from the value at index 0 of
  // root\path when that is the default value, a REG_SZ or REG_EXPAND_SZ
  // taken as stored, unexpanded (blank gives "").
  void ReadCommandValue(HKEY root, const std::string& path);
  // Drops the rows whose command is blank, keeping the order of the others.
  void DropRowsWithoutCommand();

  IRegistry& registry_;
  integration::Desktop* desktop_;
  std::unique_ptr<ValueBuffers> buffers_;
  std::vector<AssociationRow> rows_;
  std::size_t current_row_ = 0;
  bool walk_stopped_ = false;
};

}  // namespace zandrel::store
