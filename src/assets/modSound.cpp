#include "assets/modSound.h"

namespace zandrel::modSound {

std::int32_t sndPlaySoundA(ui::Platform& platform, const char* lpszSoundName, std::uint32_t uFlags) {
  return platform.sndPlaySoundA(lpszSoundName, uFlags);
}

}  // namespace zandrel::modSound
