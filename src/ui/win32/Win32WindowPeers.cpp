// The peers of a window and of its timers, and the lengths of a realised window.
#include "ui/win32/Win32Internal.h"

#include <cmath>

namespace zandrel::ui::win32 {

int Realisation::ToPixels(float twips) const {
  return static_cast<int>(std::lround(static_cast<double>(twips) / 15.0 * dpi / 96.0));
}

float Realisation::ToTwips(int pixels) const { return static_cast<float>(std::round(pixels * 15.0 * 96.0 / dpi)); }

Realisation::~Realisation() {
  if (back != nullptr) DeleteObject(back);
  if (icon != nullptr) DestroyIcon(icon);
}

// --- TimerPeerW ------------------------------------------------------------------

TimerPeerW::TimerPeerW(Win32Platform::Impl& impl, Realisation& owner, Timer& timer, UINT_PTR id)
    : impl_(impl), owner_(owner), timer_(timer), id_(id) {
  Update(Property::Interval);
}

void TimerPeerW::Update(Property) {
  if (detached_) return;
  if (timer_.Running() && !impl_.fatal) {
    // The system's own floor is 10 ms (USER_TIMER_MINIMUM), the model's too.
    SetTimer(owner_.top, id_, static_cast<UINT>(timer_.EffectiveInterval()), nullptr);
    running_ = true;
  } else {
    Stop();
  }
}

void TimerPeerW::Stop() {
  if (running_) KillTimer(owner_.top, id_);
  running_ = false;
}

void TimerPeerW::Tick() {
  if (detached_ || impl_.fatal) return;
  timer_.FireTick();
}

// --- WindowPeerW -----------------------------------------------------------------

void WindowPeerW::Update(Property what) {
  if (detached_ || owner_.window == nullptr) return;
  Window& window = *owner_.window;
  switch (what) {
    case Property::Caption: SetWindowTextA(owner_.top, window.Caption().c_str()); break;
    case Property::Geometry: {
      RECT r{0, 0, owner_.ToPixels(window.ClientWidth()), owner_.ToPixels(window.ClientHeight())};
      AdjustWindowRectExForDpi(&r, owner_.style, FALSE, owner_.exStyle, owner_.dpi);
      SetWindowPos(owner_.top, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
    case Property::WindowState:
      if ((IsIconic(owner_.top) != FALSE) != window.Minimized())
        ShowWindow(owner_.top, window.Minimized() ? SW_MINIMIZE : SW_RESTORE);
      break;
    default: break;
  }
}

}  // namespace zandrel::ui::win32
