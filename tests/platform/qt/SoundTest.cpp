// The sndPlaySoundA-shaped binding. Run against ALSA's null device (the test
// environment points ALSA_CONFIG_PATH at one): every cue "plays" silently.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sound/PlayWave.h"

namespace zandrel::sound {
namespace {

// A mono 16-bit PCM WAV of `ms` milliseconds of a quiet tone.
std::string WriteWave(const std::string& path, int ms) {
  const std::uint32_t rate = 22050;
  const std::uint32_t samples = rate * static_cast<std::uint32_t>(ms) / 1000;
  std::vector<std::uint8_t> b;
  auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i))); };
  auto u16 = [&](std::uint16_t v) { b.push_back(v & 0xFF); b.push_back(static_cast<std::uint8_t>(v >> 8)); };
  auto tag = [&](const char* t) { b.insert(b.end(), t, t + 4); };
  tag("RIFF"); u32(36 + samples * 2); tag("WAVE");
  tag("fmt "); u32(16); u16(1); u16(1); u32(rate); u32(rate * 2); u16(2); u16(16);
  tag("data"); u32(samples * 2);
  for (std::uint32_t i = 0; i < samples; ++i) u16(static_cast<std::uint16_t>((i % 50) * 40));
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
  return path;
}

class Sound : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/zandrel-sound-XXXXXX";
    dir = mkdtemp(name);
    wave = WriteWave(dir + "/Click.wxv", 300);
  }
  void TearDown() override {
    std::remove(wave.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, wave;
};

TEST_F(Sound, AsyncCueStartsAndANewCueCutsIt) {
  if (std::getenv("ALSA_CONFIG_PATH") == nullptr) GTEST_SKIP() << "needs ALSA's null device";
  EXPECT_NE(PlayWave(wave.c_str(), kSndAsync), 0);
  EXPECT_NE(PlayWave(wave.c_str(), kSndAsync), 0) << "the second cue replaces the first";
  EXPECT_NE(PlayWave(nullptr, kSndAsync), 0) << "a null name stops the cue";
}

TEST_F(Sound, SyncCuePlaysToItsEnd) {
  if (std::getenv("ALSA_CONFIG_PATH") == nullptr) GTEST_SKIP() << "needs ALSA's null device";
  EXPECT_NE(PlayWave(wave.c_str(), 0), 0);
}

TEST_F(Sound, UnplayableFileWithNoDefaultFails) {
  const std::string missing = dir + "/Missing.wxv";
  EXPECT_EQ(PlayWave(missing.c_str(), kSndAsync | kSndNoDefault), 0);
  const std::string text = dir + "/Text.wxv";
  FILE* f = std::fopen(text.c_str(), "wb");
  std::fputs("not a wave", f);
  std::fclose(f);
  EXPECT_EQ(PlayWave(text.c_str(), kSndAsync | kSndNoDefault), 0);
  std::remove(text.c_str());
}

}  // namespace
}  // namespace zandrel::sound
