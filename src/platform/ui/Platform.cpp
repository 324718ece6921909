#include "platform/ui/Platform.h"

#include "platform/ui/Window.h"

namespace zandrel::ui {

void Platform::Dispatch(const std::function<void()>& handler) {
  if (dispatch_depth_ > 0) {
    handler();
    return;
  }
  ++dispatch_depth_;
  try {
    handler();
  } catch (const RuntimeError& error) {
    dispatch_depth_ = 0;
    Fatal(error);
    return;
  }
  --dispatch_depth_;
}

void Platform::WindowOpened(Window&) { ++open_windows_; }

void Platform::WindowClosed(Window&) {
  if (open_windows_ > 0 && --open_windows_ == 0) Quit();
}

}  // namespace zandrel::ui
