// The window system over Qt 6 Widgets. Each model window becomes a top-level
// widget and each control a child widget; peers mirror the model's state on
// screen and report user actions back through the model's Fire*/User* calls.
//
// Lengths: pixels = twips / 15 * (screen logical dpi / 96), rounded.
// Stacking: among sibling controls, the one registered first lies on top.
//
// A QApplication must exist before a QtPlatform is made (or pass argc/argv to
// let the platform make one). Windows must not outlive their platform: the
// platform takes down whatever is still on screen when it goes. Widgets of a
// closed window are deleted by the event loop (a handler may be closing its
// own window), their peers are cut off from the model at once.
// This header includes no Qt header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/Platform.h"
#include "ui/Window.h"

class QWidget;
class QTimer;
class QApplication;

namespace zandrel::ui::qt {

class QtPlatform : public Platform {
 public:
  // Uses the running QApplication.
  QtPlatform();
  // Makes the QApplication when there is none yet; `argc` must outlive it.
  QtPlatform(int& argc, char** argv);
  ~QtPlatform() override;
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  // Runs the event loop until Quit() or Fatal(); returns the exit status
  // (non-zero after Fatal). Returns at once when the program already ended.
  int Exec();
  bool FatalHappened() const;

  // Renders the window as it is on screen into a PNG file.
  bool GrabToPng(const Window& window, const std::string& path) const;

  // The realised widgets, for tests and tools; null when not realised.
  QWidget* WidgetOf(const Window& window) const;
  QWidget* WidgetOf(const Control& control) const;
  QTimer* TimerOf(const Timer& timer) const;
  // Pixels for a length in twips on the primary screen.
  int ToPixels(float twips) const;
  float ToTwips(int pixels) const;

  // What OpenWithShell was given: the pages it names are Windows' own.
  const std::vector<std::string>& ShellOpened() const;

  // --- Platform ---------------------------------------------------------
  ZANDREL_PLATFORM_OVERRIDES;

  struct Impl;

 private:
  void Init();
  void UnrealizeWindow(Window& window, bool controls_alive);
  std::unique_ptr<QApplication> own_app_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zandrel::ui::qt
