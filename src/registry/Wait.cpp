#include "registry/Wait.h"

#include <mutex>
#include <thread>
#include <utility>

namespace zandrel::registry {

namespace {

std::mutex hook_mutex;
std::function<void()> hook;
std::thread::id hook_thread;
thread_local bool in_hook = false;

}  // namespace

std::function<void()> SetWaitHook(std::function<void()> wait_hook) {
  std::lock_guard<std::mutex> lock(hook_mutex);
  std::swap(hook, wait_hook);
  hook_thread = std::this_thread::get_id();
  return wait_hook;
}

void Waiting() {
  std::function<void()> run;
  {
    std::lock_guard<std::mutex> lock(hook_mutex);
    if (!hook || hook_thread != std::this_thread::get_id()) return;
    run = hook;  // a copy: the hook may replace itself
  }
  if (in_hook) return;
  in_hook = true;
  struct Leave {
    ~Leave() { in_hook = false; }
  } leave;
  run();
}

}  // namespace zandrel::registry
