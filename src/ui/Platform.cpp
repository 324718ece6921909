#include "ui/Platform.h"

#include <optional>

#include "ui/Window.h"

namespace zandrel::ui {

namespace {

// Counts a handler as running for as long as it runs, however it ends.
class DispatchDepth {
 public:
  explicit DispatchDepth(int& depth) : depth_(depth) { ++depth_; }
  ~DispatchDepth() { --depth_; }
  DispatchDepth(const DispatchDepth&) = delete;
  DispatchDepth& operator=(const DispatchDepth&) = delete;

 private:
  int& depth_;
};

}  // namespace

void Platform::Dispatch(const std::function<void()>& handler) {
  if (dispatch_depth_ > 0) {
    DispatchDepth depth(dispatch_depth_);
    handler();
    return;
  }
  // Fatal runs outside the count: handlers that run while it shows the
  // error are outermost again.
  std::optional<RuntimeError> fatal;
  {
    DispatchDepth depth(dispatch_depth_);
    try {
      handler();
    } catch (const RuntimeError& error) {
      fatal = error;
    }
  }
  if (fatal) Fatal(*fatal);
}

void Platform::WindowOpened(Window&) { ++open_windows_; }

void Platform::WindowClosed(Window&) {
  if (open_windows_ > 0 && --open_windows_ == 0) Quit();
}

}  // namespace zandrel::ui
