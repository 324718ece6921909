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
  auto tag = [&](const char* t) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(t[i])); };
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

// Runs the probe in a clean environment and returns its stdout and stderr.
std::string RunProbe(const std::string& env, const std::string& file, const std::string& out_dir) {
  const std::string out = out_dir + "/probe.out";
  const std::string command = "env -i " + env + " " ZANDREL_SOUND_PROBE " '" + file + "' 1 >" + out + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::string text;
  if (FILE* f = std::fopen(out.c_str(), "rb")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  std::remove(out.c_str());
  return text;
}

TEST_F(Sound, NoSoundOutputAtAllIsQuiet) {
  struct stat st {};
  if (stat("/dev/snd", &st) == 0 || stat("/etc/asound.conf", &st) == 0)
    GTEST_SKIP() << "this machine has a sound device or an ALSA configuration";
  EXPECT_EQ(RunProbe("HOME=" + dir, wave, dir), "0\n") << "fails, and says nothing on stderr";
}

TEST_F(Sound, NullDeviceTakesTheCue) {
  if (std::getenv("ALSA_CONFIG_PATH") == nullptr) GTEST_SKIP() << "needs ALSA's null device";
  EXPECT_EQ(RunProbe(std::string("HOME=") + dir + " ALSA_CONFIG_PATH=" + std::getenv("ALSA_CONFIG_PATH"), wave, dir),
            "1\n");
}

}  // namespace
}  // namespace zandrel::sound
