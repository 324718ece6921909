#include "sound/PlayWave.h"

#include <canberra.h>

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace zandrel::sound {

namespace {

// Every cue shares one id, so cancelling it cuts off whatever still plays.
constexpr std::uint32_t kCueId = 1;

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Whether anything could make a sound: a sound card, a sound server's socket,
// or an ALSA configuration of the user's choosing (a null device in CI).
// Without any, every play fails after ALSA has printed its complaints about
// the missing card to stderr; asking nothing is as quick and stays quiet.
bool SoundOutputPossible() {
  if (std::getenv("ALSA_CONFIG_PATH") != nullptr || Exists("/dev/snd")) return true;
  if (const char* home = std::getenv("HOME"); home != nullptr && Exists(std::string(home) + "/.asoundrc")) return true;
  if (Exists("/etc/asound.conf")) return true;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr) {
    const std::string dir(runtime);
    if (Exists(dir + "/pulse/native") || Exists(dir + "/pipewire-0")) return true;
  }
  return false;
}

class Player {
 public:
  Player() {
    if (!SoundOutputPossible()) return;
    if (ca_context_create(&context_) != CA_SUCCESS) {
      context_ = nullptr;
      return;
    }
    ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Zandrel", CA_PROP_APPLICATION_ID,
                            "org.quirksoft.zandrel", nullptr);
  }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  std::int32_t Play(const char* path, std::uint32_t flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (context_ == nullptr) return 0;
    ca_context_cancel(context_, kCueId);
    if (path == nullptr) return 1;
    int rc = Start(CA_PROP_MEDIA_FILENAME, path);
    if (rc != CA_SUCCESS && (flags & kSndNoDefault) == 0) rc = Start(CA_PROP_EVENT_ID, "bell");
    return rc == CA_SUCCESS ? 1 : 0;
  }

 private:
  int Start(const char* key, const char* value) {
    ca_proplist* props = nullptr;
    if (ca_proplist_create(&props) != CA_SUCCESS) return CA_ERROR_OOM;
    ca_proplist_sets(props, key, value);
    ca_proplist_sets(props, CA_PROP_CANBERRA_CACHE_CONTROL, "never");
    const int rc = ca_context_play_full(context_, kCueId, props, nullptr, nullptr);
    ca_proplist_destroy(props);
    return rc;
  }

  std::mutex mutex_;
  ca_context* context_ = nullptr;
};

}  // namespace

std::int32_t PlayWave(const char* path, std::uint32_t flags) {
  // Never destroyed: the ALSA backend plays on detached threads that
  // ca_context_destroy does not wait for, and unloading the backend under a
  // cue still playing at exit would pull the code from under them.
  static Player* const player = new Player;
  return player->Play(path, flags);
}

}  // namespace zandrel::sound
