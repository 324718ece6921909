// A headless program: a temporary application folder holding a picture file
// for every name the windows load, the headless platform pointed at it, and
// the program's window references with a stand-in manager window.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "assets/Assets.h"
#include "platform/headless/HeadlessPlatform.h"
#include "shell/Forms.h"
#include "registry/Registry.h"

namespace zandrel::shell::testing {

namespace fs = std::filesystem;

// Every picture file a window of the program loads.
inline const std::vector<std::string> kAllPictures = {
    "Me00000.g",  "J-1.j",       "J-2.j",       "Quirk00000.j", "Quirk00001.j", "Quirk00002.j",
    "Quirk00003.j", "Quirk00004.j", "Quirk00005.j", "Quirk00006.j", "Quirk00007.j", "Quirk00008.j",
    "Quirk00009.j", "k01-1.g",   "k01-2.g",     "k02-1.g",      "k02-2.g",      "k03-1.g",
    "k03-2.g",    "k04-1.g",     "k04-2.g",     "Abt1.g",       "Abt2.g",       "Exit-y1.g",
    "Exit-y2.g",  "Exit-n1.g",   "Exit-n2.g",   "Exit.g",       "Forw1.g",      "Forw2.g",
};

// The PNG signature and IHDR chunk: all the headless loader reads.
inline void WritePng(const fs::path& path, std::uint32_t width, std::uint32_t height) {
  std::vector<std::uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
                                 'I',  'H', 'D', 'R'};
  for (std::uint32_t v : {width, height})
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
  for (std::uint8_t v : {8, 2, 0, 0, 0, 0, 0, 0, 0}) b.push_back(v);  // depth, colour, ..., CRC
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A registry that is never called: the windows under test only pass it on.
class UnusedRegistry : public IRegistry {
 public:
  LONG RegOpenKeyExA(HKEY, const char*, DWORD, REGSAM, HKEY*) override { return Fail(); }
  LONG RegEnumKeyExA(HKEY, DWORD, char*, DWORD*, DWORD*, char*, DWORD*, FILETIME*) override {
    return Fail();
  }
  LONG RegEnumValueA(HKEY, DWORD, char*, DWORD*, DWORD*, DWORD*, BYTE*, DWORD*) override {
    return Fail();
  }
  LONG RegCreateKeyExA(HKEY, const char*, DWORD, const char*, DWORD, REGSAM, const void*, HKEY*,
                       DWORD*) override {
    return Fail();
  }
  LONG RegSetValueExA(HKEY, const char*, DWORD, DWORD, const BYTE*, DWORD) override { return Fail(); }
  LONG RegDeleteKeyA(HKEY, const char*) override { return Fail(); }
  LONG RegCloseKey(HKEY) override { return Fail(); }
  LONG RegDeleteValueA(HKEY, const char*) override { return Fail(); }
  LONG BeginTransaction() override { return Fail(); }
  LONG CommitTransaction() override { return Fail(); }
  void RollbackTransaction() override { ADD_FAILURE() << "registry called"; }

 private:
  static LONG Fail() {
    ADD_FAILURE() << "registry called";
    return ERROR_ACCESS_DENIED;
  }
};

// Stands in for the manager window: loads one picture, and its About and
// exit buttons play the click cue and call the openers it was given.
class StandInManager : public ui::Window {
 public:
  StandInManager(ui::Platform& platform, std::function<void()> showAbout,
                 std::function<void()> showExit)
      : ui::Window(platform, "frmZandrel"),
        cmdExit(*this, nullptr, "cmdExit"),
        cmdA01(*this, nullptr, "cmdA01"),
        show_about_(std::move(showAbout)),
        show_exit_(std::move(showExit)) {
    SetCaption("Orvanta");
    cmdExit.SetTabIndex(13);
    cmdA01.SetTabIndex(18);
    cmdExit.Click = [this] {
      assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
      show_exit_();
    };
    cmdA01.Click = [this] {
      assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
      show_about_();
    };
  }

  ui::Button cmdExit;
  ui::Button cmdA01;
  // Open windows and whether the splash was on screen when this load ran.
  int openWindowsAtLoad = -1;
  std::function<void(StandInManager&)> onLoad;

 protected:
  void Form_Load() override {
    openWindowsAtLoad = GetPlatform().OpenWindowCount();
    if (onLoad) onLoad(*this);
    cmdExit.SetPicture(assets::LoadAssetPicture(GetPlatform(), "\\k04-1.g"));
  }

 private:
  std::function<void()> show_about_;
  std::function<void()> show_exit_;
};

class ShellTest : public ::testing::Test {
 protected:
  ShellTest() {
    app_ = fs::temp_directory_path() /
           ("zandrel-shell-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(app_);
    fs::create_directories(app_ / "Pic");
    for (const std::string& name : kAllPictures) WritePng(app_ / "Pic" / name, 16, 8);
    platform.SetExecutableFolder(app_.string());
    forms = std::make_unique<Forms>(
        platform, registry,
        [this](ui::Platform& p, IRegistry&, std::function<void()> showAbout,
               std::function<void()> showExit) -> std::unique_ptr<ui::Window> {
          ++managersCreated;
          return std::make_unique<StandInManager>(p, std::move(showAbout), std::move(showExit));
        });
  }
  ~ShellTest() override {
    forms.reset();
    std::error_code ignored;
    fs::remove_all(app_, ignored);
  }

  std::string App() const { return app_.string(); }
  std::string Pic(const std::string& name) const { return App() + "/Pic/" + name; }
  std::string ClickCue() const { return App() + "/Sound/Click.wxv"; }
  void RemovePicture(const std::string& name) { fs::remove(app_ / "Pic" / name); }

  // Runs as an event of the program would: an uncaught error ends it.
  void Event(const std::function<void()>& handler) { platform.Dispatch(handler); }

  StandInManager* Manager() const { return static_cast<StandInManager*>(forms->Manager()); }

  ui::HeadlessPlatform platform;
  UnusedRegistry registry;
  std::unique_ptr<Forms> forms;
  int managersCreated = 0;

 private:
  fs::path app_;
};

}  // namespace zandrel::shell::testing
