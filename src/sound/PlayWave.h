// A sndPlaySoundA-shaped binding to the desktop's sound system (libcanberra).
#pragma once

#include <cstdint>

namespace zandrel::sound {

inline constexpr std::uint32_t kSndAsync = 0x1;      // return at once; the sound plays on
inline constexpr std::uint32_t kSndNoDefault = 0x2;  // no default sound when the file fails

// Plays the waveform file `path` (UTF-8) and returns at once: the program
// only ever plays cues asynchronously, so every call does (kSndAsync or not).
// A new cue cuts off the one still playing. When the file cannot be played, the sound theme's "bell" plays instead
// unless kSndNoDefault is given. A null path stops the cue that is playing.
// Returns non-zero when a sound (the file's or the default one) started.
// On a machine with no sound card, no sound server and no ALSA configuration
// of its own, every call fails at once and prints nothing.
std::int32_t PlayWave(const char* path, std::uint32_t flags);

}  // namespace zandrel::sound
