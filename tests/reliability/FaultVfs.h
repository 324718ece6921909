// A SQLite VFS over the default one that can make the file system misbehave
// on cue: die (SIGKILL) at the nth change to a file, or report a full disk
// once a number of bytes has been written. Installed as the default VFS, so
// every hive opened afterwards in this process goes through it; with no fault
// armed it only counts.
//
// A change is a write, truncate or sync of a file, or the deletion of one
// (the journal's). Memory-mapped shared-memory files (-shm) are not counted:
// they are not written through the VFS.
#pragma once

#include <cstdint>

namespace zandrel::testing {

class FaultVfs {
 public:
  // Registers the VFS as the default (once per process).
  static void Install();

  // Counts changes from now on and, when n > 0, raises SIGKILL just before
  // the nth one is made.
  static void KillAtChange(std::uint64_t n);
  // From now on, a write that would take the bytes written past `budget`
  // fails with SQLITE_FULL and writes nothing.
  static void FullAfterBytes(std::uint64_t budget);
  // No fault; counters reset.
  static void Disarm();

  static std::uint64_t Changes();
  static std::uint64_t BytesWritten();
  static std::uint64_t FullRefusals();
};

}  // namespace zandrel::testing
