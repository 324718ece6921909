// Waiting for another writer, process-wide. Whatever waits for another
// process's change to end (the hive's busy wait, the Windows lock) calls
// Waiting() at least every kWaitStepMs, so that the program can keep its
// windows drawn through a wait of up to ten seconds.
#pragma once

#include <functional>

namespace zandrel::registry {

inline constexpr int kWaitStepMs = 100;  // longest sleep between two Waiting() calls

// Sets what Waiting() runs and returns the hook it replaces (for its setter
// to put back); an empty hook runs nothing. The hook runs only on the thread
// that set it (a window system's events belong to its own thread), and never
// inside itself: a wait that starts while the hook runs does not call it again.
std::function<void()> SetWaitHook(std::function<void()> hook);

// Called by a waiter between its sleeps.
void Waiting();

}  // namespace zandrel::registry
