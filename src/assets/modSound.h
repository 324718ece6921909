// The binding to the platform's sound function, and nothing else.
#pragma once

#include <cstdint>

#include "ui/Platform.h"

namespace zandrel::modSound {

std::int32_t sndPlaySoundA(ui::Platform& platform, const char* lpszSoundName, std::uint32_t uFlags);

}  // namespace zandrel::modSound
