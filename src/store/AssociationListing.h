// The reading side of the association list: which extensions are registered,
// the title key each one names and the command that opens it. The manager
// window's list command drives it step by step and shows its rows; this class
// only reads the registry and never writes to it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "store/Registry.h"

namespace zandrel::store {

// One row of the association list.
struct AssociationRow {
  std::string extension;    // the extension key's name, with its leading "."
  std::string description;  // the extension key's default value (the title key's name), untrimmed
  std::string command;      // the command key's default value, untrimmed; empty until read
  bool operator==(const AssociationRow&) const = default;
};

inline constexpr const char* kClassesPath = "SOFTWARE\\Classes";

class AssociationListing {
 public:
  explicit AssociationListing(IRegistry& registry) : registry_(registry) {}
  AssociationListing(const AssociationListing&) = delete;
  AssociationListing& operator=(const AssociationListing&) = delete;

  // Opens HKEY_LOCAL_MACHINE\SOFTWARE\Classes (access 0x3F) for one listing;
  // 0 when it cannot be opened. The caller closes it with CloseClassesKey.
  // The handle is the caller's, so a listing started while another waits in
  // its message processing does not pull the key from under it.
  HKEY OpenClassesKey();
  // The names of the classes key's subkeys that begin with ".", in
  // enumeration order.
  std::vector<std::string> CollectExtensionNames(HKEY classes);
  void CloseClassesKey(HKEY classes);
  // The same on the key of the latest OpenClassesKey, for callers that run
  // one listing at a time.
  std::vector<std::string> CollectExtensionNames() { return CollectExtensionNames(latest_classes_); }
  void CloseClassesKey();

  // Appends a row for the extension key root\path when its default value is
  // a REG_SZ that is not blank; the row's extension is the part of the path
  // after its last "\".
  void AddExtensionRow(HKEY root, const std::string& path);
  // Fills the command of row `currentRow` from root\path and then, while
  // `walkStopped` is clear, from its subkeys in turn; sets `walkStopped` when
  // a key cannot be opened.
  void WalkCommandKey(HKEY root, const std::string& path);
  // Sets the command of row `currentRow` from the value at index 0 of
  // root\path when that is the REG_SZ default value (blank gives "").
  void ReadCommandValue(HKEY root, const std::string& path);

  // Walks the command key of every row in turn (currentRow 1, 2, ...).
  void ReadCommands();
  // Drops the rows whose command is blank, keeping the order of the others.
  // Returns whether any row was dropped.
  bool DropRowsWithoutCommand();

  std::vector<AssociationRow> rows;
  std::size_t currentRow = 0;  // 1-based position of the row being read
  bool walkStopped = false;

  // Room for one value's name and data, reused from call to call.
  struct ValueBuffers {
    ValueBuffers();
    std::unique_ptr<char[]> name;
    std::unique_ptr<BYTE[]> data;
  };

 private:
  IRegistry& registry_;
  ValueBuffers buffers_;
  HKEY latest_classes_ = 0;
};

}  // namespace zandrel::store
