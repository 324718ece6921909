// The registry stack a program runs on, assembled in one place for each
// system; the build picks the file (StackFreedesktop.cpp on Linux,
// StackWindows.cpp on Windows), as LevelDB picks its env_posix.cc or
// env_windows.cc. From the bottom up:
//   Linux:   the hive → the history → the desktop's view laid over it
//            (freedesktop/), whose files follow each committed change
//   Windows: the machine's registry → the crash journal (a change left half
//            done is rolled back at the start) → the history; the desktop is
//            Windows itself (windows/), whose shell is told after each change
// The window and every zandrel-reg verb take their registries from here.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "integration/Desktop.h"
#include "status/Status.h"
#include "capture/HistoryRegistry.h"

namespace zandrel::assembly {

enum class Mode {
  kLook,   // reads and writes nothing: no store is made, no crash record replayed (Linux: as kRead)
  kRead,   // reads an existing store; none is made where there is none
  kWrite,  // reads and writes; the store is made where there is none
};

struct Options {
  // Told what the window does not show at once: why the desktop's view could
  // not be read, why its files could not follow a change. May be empty.
  std::function<void(const std::string& failure)> log;
  // The desktop's first view is computed at once, beside the reading of the
  // store (a process of its own), for a caller that will read the classes.
  bool viewAhead = false;
};

class Stack {
 public:
  virtual ~Stack() = default;

  // The store alone, under the history (the hive; the journalled registry).
  virtual IRegistry& Store() = 0;
  // The store keeping the history of every change made through it.
  virtual capture::HistoryRegistry& History() = 0;
  // The desktop; its Classes() is the history seen as the programs see the
  // classes (on Linux, over the desktop's own associations).
  virtual integration::Desktop& Desktop() = 0;

  // Readies the store for a walk of a whole subtree (the hive reads it all
  // in a few scans now, beside the desktop's helper), before the caller's
  // WalkSubtree.
  virtual void PrepareWalk() {}
  // Whether the last ApplyChanges through History() failed because the
  // desktop's view, which must check a file's keys, could not be read.
  virtual bool ChangesRefusedUnread() const { return false; }
};

// Opens the program's stack. On failure *stack is null and the status says
// why, naming the store.
status::Status Open(Mode mode, std::unique_ptr<Stack>* stack, const Options& options = {});

// Whether there is a store to open (Linux: the hive's file exists).
bool StoreExists();

// Opens the stack to take in a large change: a store that does not exist yet
// is made and handed to `build` while still private (written once, and all
// or nothing: a failing `build` leaves no store); *built says so. Otherwise
// the stack is opened as kWrite and `build` is not called.
status::Status OpenBuilding(const std::function<status::Status(Stack&)>& build, bool* built,
                            std::unique_ptr<Stack>* stack);

// The failure to open the store as the window shows it (naming its place).
std::string OpenFailure(const status::Status& opened);

// Whether the desktop keeps association data of its own that the store is
// projected into, brought in line by Project (zandrel-reg desktop).
bool DesktopKeepsOwnData();
// Brings it in line with the store now: the summary line into *summary.
status::Status Project(Stack& stack, std::string* summary);

}  // namespace zandrel::assembly
