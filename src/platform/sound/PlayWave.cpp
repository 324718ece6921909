#include "platform/sound/PlayWave.h"

#include <canberra.h>

#include <condition_variable>
#include <mutex>

namespace zandrel::sound {

namespace {

// Every cue shares one id, so cancelling it cuts off whatever still plays.
constexpr std::uint32_t kCueId = 1;

struct SyncWait {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
};

void Finished(ca_context*, std::uint32_t, int, void* userdata) {
  auto* wait = static_cast<SyncWait*>(userdata);
  std::lock_guard<std::mutex> lock(wait->mutex);
  wait->done = true;
  wait->done_cv.notify_all();
}

class Player {
 public:
  Player() {
    if (ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      return;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Zandrel", CA_PROP_APPLICATION_ID,
                            "org.quirksoft.zandrel", nullptr);
  }
  ~Player() {
    if (context_ != nullptr) ca_context_destroy(context_);
  }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  std::int32_t Play(const char* path, std::uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (context_ == nullptr) return 0;
    ca_context_cancel(context_, kCueId);
    if (path == nullptr) return 1;
    int rc = Start(CA_PROP_MEDIA_FILENAME, path, flags);
    if (rc != CA_SUCCESS && (flags & kSndNoDefault) == 0) rc = Start(CA_PROP_EVENT_ID, "bell", flags);
    return rc == CA_SUCCESS ? 1 : 0;
  }

 private:
  int Start(const char* key, const char* value, std::uint32_t flags) {
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS) return CA_ERROR_OOM;
    ca_proplist_sets(props, key, value);
    ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    int rc;
    if ((flags & kSndAsync) != 0) {
      rc = ca_context_play_full(context_, kCueId, props, nullptr, nullptr);
    } else {
      SyncWait wait;
      rc = ca_context_play_full(context_, kCueId, props, Finished, &wait);
      if (rc == CA_SUCCESS) {
        std::unique_lock<std::mutex> lock(wait.mutex);
        wait.done_cv.wait(lock, [&] { return wait.done; });
      }
    }
    ca_proplist_destroy(props);
    return rc;
  }

  std::mutex mutex_;
  ca_context* context_ = nullptr;
};

}  // namespace

std::int32_t PlayWave(const char* path, std::uint32_t flags) {
  static Player player;
  return player.Play(path, flags);
}

}  // namespace zandrel::sound
