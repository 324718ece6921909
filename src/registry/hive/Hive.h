// The portable registry: the Win32 registry operations over a SQLite file,
// the "hive". Behaves as advapi32 does for every call the store makes:
// case-blind names keeping their created case, subkeys enumerated in the
// order of their upper-cased names, values in creation order, the same codes.
//
// Durability: a call that returns 0 has committed to disk (WAL, synchronous
// FULL); a call that fails changes nothing. Several processes may share one
// hive; each call sees what the others committed. A writer waits at most
// kBusyTimeoutMs for another process's write and then fails with ERROR_BUSY;
// it calls registry::Waiting() at least every kWaitStepMs meanwhile.
//
// Keys nest at most MAX_KEY_DEPTH levels below their root (HKEY_CLASSES_ROOT
// counts as a root for the classes keys, also when they are reached through
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes); creating a deeper key fails with
// ERROR_INVALID_PARAMETER and creates nothing.
//
// An instance is used from one thread at a time.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "registry/Change.h"
#include "registry/KeyPath.h"
#include "registry/Registry.h"
#include "registry/Subtree.h"
#include "status/Status.h"

namespace zandrel::hive {

inline constexpr int kBusyTimeoutMs = 10000;

class HiveRegistry : public zandrel::IRegistry {
 public:
  struct Impl;
  explicit HiveRegistry(std::unique_ptr<Impl> impl);
  ~HiveRegistry() override;
  HiveRegistry(const HiveRegistry&) = delete;
  HiveRegistry& operator=(const HiveRegistry&) = delete;

  ZANDREL_REGISTRY_OVERRIDES;
  // One query: the classes root's extensions with their default values, in
  // the order of the name index, without reading any other key.
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override;
  // SQLite's data_version of the file: it moves when another connection
  // commits, never for this instance's own changes.
  LONG QueryChangeCounter(std::uint64_t* counter) override;

  // Hands over exactly what the walk through the calls above would, read in
  // a few scans of the file instead of a call per key and value: 0, or 5
  // when the handle may not both query and enumerate, or the failing code.
  LONG WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor) override;
  bool WalkReadsWholeFirst() override { return true; }

  // Reads now what WalkSubtree reads, so that the next WalkSubtree does not
  // when nothing changed in between (in this connection or any other): the
  // reading can overlap a wait for something else.
  LONG PrepareWalk();

  // Inside a transaction scope only (87 outside one), with the result the
  // calls give: the same keys, values and order, and for changes the calls
  // refuse the same change (*failed) and code. The keys and values the
  // changes add are written in bulk, a few statements for all of them rather
  // than several per line.
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override;

  // Two statements a tree, all or none: 0 also for a key that is not there;
  // 5 for the hive's fixed keys. Tells `deleted` nothing.
  LONG DeleteTrees(const std::vector<registry::KeyPath>& keys,
                   const std::function<void(std::size_t keys)>& deleted) override;

  // The file this instance works on.
  const std::string& Path() const;

 private:
  std::unique_ptr<Impl> impl_;
};

// Opens the hive file at path into *hive, creating it (file 0600, missing
// folders 0700) when missing. A file that is not a hive or cannot be opened
// fails with a one-line message naming it, and is never overwritten or
// repaired:
//   kInvalid   "\"PATH\" is not a registry hive: " and why;
//   kNotAFile  the same, for a folder or a device;
//   kFailed    "cannot open (create) the registry hive \"PATH\": " and the reason.
//
// A hive this process may not write (read-only file system, file or folder
// without write permission) is opened for reading: it lists as usual, every
// write (BeginTransaction and CommitTransaction too) answers
// ERROR_ACCESS_DENIED and nothing is written.
status::Status OpenHive(const std::string& path, std::unique_ptr<HiveRegistry>* hive);

// $ZANDREL_HIVE if set and not empty, else $XDG_DATA_HOME/zandrel/registry.db
// (XDG_DATA_HOME only when absolute), else ~/.local/share/zandrel/registry.db.
std::string DefaultHivePath();

// Opens DefaultHivePath(). A hive that does not exist yet is created empty:
// on a desktop the classes store starts as the desktop's own associations.
status::Status OpenDefaultHive(std::unique_ptr<HiveRegistry>* hive);

// Opens the hive at `path` for reading only, for a caller that never writes
// (a query, an export): an existing hive is opened read-only, never written
// (a full disk does not stop it), and every write answers ERROR_ACCESS_DENIED; a
// missing one is not created: the hive is then an empty one in memory.
// Failures as OpenHive's.
status::Status OpenHiveForReading(const std::string& path, std::unique_ptr<HiveRegistry>* hive);
status::Status OpenDefaultHiveForReading(std::unique_ptr<HiveRegistry>* hive);

// A change made to a new hive before any other process can see it: Ok to
// publish the hive with it; a failure creates no hive.
using HiveBuild = std::function<status::Status(HiveRegistry& hive)>;

// Opens DefaultHivePath() as OpenDefaultHive does, for a caller about to make
// a large change: a hive that does not exist yet is created and handed to
// `build` while still private, and its pages are written once, straight
// into the file, rather than through the WAL. *built is true when the hive
// opened is the one `build` made; a `build` that fails is answered with its
// failure, and no hive exists. Else (the hive existed, or another process
// made it first) the change is still to make.
status::Status OpenDefaultHive(const HiveBuild& build, bool* built, std::unique_ptr<HiveRegistry>* hive);

// Like OpenHive, but a missing file is created already holding what `seed`
// makes in it (a .reg text imported whole), or is not created: other
// processes see either no file or the whole seeded hive. A `seed` that fails
// is answered "cannot seed the registry hive \"PATH\": " and its message.
status::Status OpenHiveSeeded(const std::string& path, const HiveBuild& seed, std::unique_ptr<HiveRegistry>* hive);

}  // namespace zandrel::hive
