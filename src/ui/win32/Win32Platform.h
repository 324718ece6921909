// The window system over Win32: each model window becomes a top-level window
// without control box (so no close, minimise or maximise box), each control a
// child window. Peers mirror the model's state on screen and report user
// actions back through the model's Fire*/User* calls, as the Qt realisation does.
//
// Lengths: pixels = twips / 15 * (monitor dpi / 96), rounded, at the dpi of
// the monitor the window opens on (and again when it moves to another one).
// A window opens centred in the work area of the monitor the program was
// started on; one larger than that area opens at a lower dpi, as large as
// fits, so that no part of it lies off the screen.
// Stacking: among sibling controls, the one registered first lies on top.
// Texts are UTF-8 and go through the A functions: the executable's manifest
// makes UTF-8 the process's ANSI code page.
//
// This header includes no Windows header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Platform.h"
#include "ui/Window.h"

namespace zandrel::ui::win32 {

class Win32Platform : public Platform {
 public:
  Win32Platform();
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // Runs the message loop until Quit() or Fatal(); returns the exit status
  // (non-zero after Fatal). Returns at once when the program already ended.
  int Exec();
  bool FatalHappened() const;

  // The targets given to OpenWithShell, in order.
  const std::vector<std::string>& ShellOpened() const;

  // Where windows open: a work area in virtual-screen pixels and its
  // monitor's dpi.
  struct ScreenArea {
    int left = 0, top = 0, right = 0, bottom = 0;
    unsigned dpi = 96;
  };
  // Asked each time a window opens. By default the monitor the program was
  // started on: the one the shell named at the start, else the one under
  // the mouse pointer then. Tests give a screen of their own.
  void SetScreenArea(std::function<ScreenArea()> source);

  // --- Platform ---------------------------------------------------------
  ZANDREL_PLATFORM_OVERRIDES;

  struct Impl;

 private:
  void UnrealizeWindow(Window& window, bool controls_alive);
  std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::ui::win32
