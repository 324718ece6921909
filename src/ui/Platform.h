// The window system's services that windows use besides their controls:
// realising windows on screen, message boxes, the file-open dialog, the
// mouse pointer, message processing and a clock to pace it, pictures, sound,
// the shell's opening of a document or page, and the program's own folder.
// What the desktop does after a change is not the window system's: see
// integration/Desktop.h. Realised over Qt (ui/qt) and headless
// (ui/headless) for tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "messagebox/MessageBox.h"
#include "ui/Controls.h"

namespace zandrel::ui {

// The application title every message box carries.
inline constexpr const char* kAppTitle = "Zandrel";

// Mouse pointers.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;

// sndPlaySoundA flags.
inline constexpr std::uint32_t SND_ASYNC = 0x1;
inline constexpr std::uint32_t SND_NODEFAULT = 0x2;

// What the default apps page of Windows' Settings opens as.
inline constexpr const char* kDefaultAppsSettings = "ms-settings:defaultapps";

class Window;

class Platform {
 public:
  virtual ~Platform() = default;

  // Windows on screen. Realize creates the window's peers (and those of its
  // controls and timers) and displays it centred; Unrealize takes them down.
  virtual void Realize(Window& window) = 0;
  virtual void Unrealize(Window& window) = 0;
  virtual void BringToFront(Window& window) = 0;

  // A modal message box; returns IDOK, IDYES, IDNO or IDCANCEL (Yes/No/Cancel:
  // also Escape and the close box).
  virtual int MsgBox(const std::string& text, int flags, const std::string& title = kAppTitle) = 0;
  // The modal file-open dialog for `dialog`'s properties: sets its FileName,
  // or throws RuntimeError (32755 when cancelled and CancelError is set).
  virtual void ShowOpen(CommonDialog& dialog) = 0;

  virtual void SetMousePointer(int pointer) = 0;
  virtual int MousePointer() const = 0;
  // Processes the messages that are waiting, once.
  virtual void DoEvents() = 0;
  // Processes, once, the waiting messages that redraw windows, and no input
  // from the user: what keeps the windows drawn while a handler waits
  // (another copy's change), without starting another handler meanwhile.
  virtual void DoPaintEvents() = 0;
  // Milliseconds from a fixed moment, never going back: what a handler
  // paces itself by. The headless platform's is the test's clock.
  virtual std::int64_t TickCount() const = 0;

  // Reads a picture file, recognising its format from its content. Throws
  // RuntimeError for a missing or unreadable file.
  virtual PicturePtr LoadPicture(const std::string& path) = 0;
  // Plays a waveform file; SND_ASYNC returns at once and cuts off the cue
  // still playing. Without SND_NODEFAULT a file that cannot be played plays
  // the desktop's default sound. Returns non-zero on success.
  virtual std::int32_t sndPlaySoundA(const char* path, std::uint32_t flags) = 0;
  // Opens `target` as the shell opens what it is given (a document, a
  // folder, a URI such as "ms-settings:defaultapps"): ShellExecute on
  // Windows; elsewhere, where no such page exists, realisations record it.
  virtual void OpenWithShell(const std::string& target) = 0;
  // The folder of the running executable, without a trailing separator.
  virtual std::string ExecutableFolder() = 0;

  // Runs an event handler. An uncaught RuntimeError ends the program: Fatal
  // shows it and quits. Nested calls pass errors on to the outermost one.
  // Any other exception passes through, leaving the platform as before.
  void Dispatch(const std::function<void()>& handler);
  // How many handlers run now, one inside another (a message box or
  // DoEvents lets the next one start): 1 inside a handler that nothing waits under.
  int HandlerDepth() const { return dispatch_depth_; }
  virtual void Fatal(const RuntimeError& error) = 0;

  // Bookkeeping of open windows: the program ends when the last one closes.
  void WindowOpened(Window& window);
  void WindowClosed(Window& window);
  int OpenWindowCount() const { return open_windows_; }
  virtual void Quit() = 0;

 private:
  int dispatch_depth_ = 0;
  int open_windows_ = 0;
};

}  // namespace zandrel::ui

// Declares every window-system call of Platform as an override, for a
// realisation on a real screen (the headless one defines most in place).
#define ZANDREL_PLATFORM_OVERRIDES                                                               \
  void Realize(Window& window) override;                                                         \
  void Unrealize(Window& window) override;                                                       \
  void BringToFront(Window& window) override;                                                    \
  int MsgBox(const std::string& text, int flags, const std::string& title = kAppTitle) override; \
  void ShowOpen(CommonDialog& dialog) override;                                                  \
  void SetMousePointer(int pointer) override;                                                    \
  int MousePointer() const override;                                                             \
  void DoEvents() override;                                                                      \
  void DoPaintEvents() override;                                                                 \
  std::int64_t TickCount() const override;                                                       \
  PicturePtr LoadPicture(const std::string& path) override;                                      \
  std::int32_t sndPlaySoundA(const char* path, std::uint32_t flags) override;                    \
  void OpenWithShell(const std::string& target) override;                                        \
  std::string ExecutableFolder() override;                                                       \
  void Fatal(const RuntimeError& error) override;                                                \
  void Quit() override
