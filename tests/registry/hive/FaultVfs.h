// A SQLite VFS over the default one, installed as the default so that every
// hive opened afterwards in this process goes through it. Unarmed, it only
// counts. Armed, it can die (SIGKILL) at the nth change to a file (a write,
// truncate, sync or deletion), refuse writes past a byte budget as a full
// disk would, and sleep in virtual time: a sleep returns at once and adds to
// a clock that a hook can watch.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zandrel::testing {

class FaultVfs {
 public:
  static void Install();
  static void KillAtChange(std::uint64_t n);
  static void FullAfterBytes(std::uint64_t budget);
  // From now on sleeps are virtual; `onSleep` runs after each with the
  // microseconds slept so far.
  static void VirtualSleep(std::function<void(std::uint64_t slept)> onSleep);
  static void Disarm();  // no fault, counters and trace cleared

  static std::uint64_t Changes();
  static std::uint64_t BytesWritten();
  static std::uint64_t FullRefusals();
  static std::uint64_t Slept();  // virtual microseconds
  // Writes and syncs since Disarm, in order: "w" or "s" and the file's kind
  // ("db", "wal", "journal"), e.g. "w wal,w wal,s wal,".
  static const std::string& Trace();
};

}  // namespace zandrel::testing
