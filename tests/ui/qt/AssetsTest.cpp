// The generated application folder (main() is QtTest's): every picture the
// windows read decodes, the window icon the program embeds is the generator's
// drawing, and cues play.
#include <gtest/gtest.h>

#include <cstdlib>

#include "assets/WindowIcon.h"
#include "ui/qt/QtPlatform.h"
#include "sound/PlayWave.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

TEST(Qt, TheGeneratedPicturesDecode) {
  TempDir dir;
  ASSERT_EQ(
      std::system((ZANDREL_ASSET_GENERATOR " " + dir.Path() + " " + dir.File("icon.png") + " >/dev/null").c_str()), 0);
  EXPECT_TRUE(ReadFile(dir.File("icon.png")) == assets::WindowIconPng());
  ui::qt::QtPlatform platform;
  for (const char* name :
       {"Me00000.g", "J-1.j",     "J-2.j",     "Quirk00000.j", "Quirk00009.j", "k01-1.g", "k01-2.g", "k02-1.g",
        "k02-2.g",   "k03-1.g",   "k03-2.g",   "k04-1.g",      "k04-2.g",      "Abt1.g",  "Abt2.g",  "Exit-y1.g",
        "Exit-y2.g", "Exit-n1.g", "Exit-n2.g", "Exit.g",       "Forw1.g",      "Forw2.g"})
    EXPECT_NO_THROW(platform.LoadPicture(std::string(ZANDREL_APP_DIR "/Pic/") + name)) << name;
}

// Cues through ALSA's null device (main() names it unless the environment names another).
TEST(Sound, CuesPlayAndUnplayableFilesFail) {
  TempDir dir;
  std::string wave("RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x44\xac\0\0\x02\0\x10\0data\0\x10\0\0",
                   44);
  wave += std::string(4096, '\x20');
  const std::string cue = dir.Write("Click.wxv", wave), text = dir.Write("Text.wxv", "not a wave");
  EXPECT_NE(sound::PlayWave(cue.c_str(), sound::kSndAsync), 0);
  EXPECT_NE(sound::PlayWave(cue.c_str(), sound::kSndAsync), 0) << "a new cue cuts the one playing";
  EXPECT_EQ(sound::PlayWave(dir.File("Missing.wxv").c_str(), sound::kSndAsync | sound::kSndNoDefault), 0);
  EXPECT_EQ(sound::PlayWave(text.c_str(), sound::kSndAsync | sound::kSndNoDefault), 0);
}

}  // namespace
}  // namespace zandrel::testing
