// Putting a window on screen, in named steps, and taking it down.
#include "ui/win32/Win32Internal.h"

#include <shellscalingapi.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "ui/RealizeControls.h"

namespace zandrel::ui::win32 {

namespace {

using Handles = std::map<const Control*, HWND>;

UINT MonitorDpi(HMONITOR monitor) {
  UINT x = 96, y = 96;
  if (FAILED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y)) || y == 0) return 96;
  return y;
}

// The window's icon from its picture: the colours, and a mask from their alpha.
HICON MakeIcon(const Bitmap& bitmap) {
  HBITMAP mask = CreateBitmap(bitmap.width, bitmap.height, 1, 1, nullptr);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = bitmap.handle;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  return icon;
}

// The top-level window's styles. No WS_SYSMENU: no control menu, no close,
// minimise or maximise box.
void ChooseStyles(const Window& window, Realisation& r) {
  r.style = WS_POPUP | WS_CLIPCHILDREN;
  if (window.HasTitleBar()) r.style |= WS_CAPTION;
  else if (window.Border() != BorderStyle::None) r.style |= WS_BORDER;
  r.exStyle = window.ShowInTaskbar() ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW;
}

// The window's outer rectangle at `dpi`.
SIZE FrameSize(const Window& window, const Realisation& r, UINT dpi) {
  auto pixels = [dpi](float twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / 15.0 * dpi / 96.0));
  };
  RECT frame{0, 0, pixels(window.ClientWidth()), pixels(window.ClientHeight())};
  AdjustWindowRectExForDpi(&frame, r.style, FALSE, r.exStyle, dpi);
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// The window's outer rectangle, centred in the work area of `area`, at the
// area's dpi (which it records), or at the highest lower one at which the
// window fits the area: a window larger than the screen would leave its
// lower part, and the buttons there, out of reach, as it has no resize box.
RECT CentredFrame(const Window& window, Realisation& r, const Win32Platform::ScreenArea& area) {
  constexpr UINT kLowestDpi = 48;
  const int width = area.right - area.left, height = area.bottom - area.top;
  UINT dpi = area.dpi == 0 ? 96 : area.dpi;
  SIZE size = FrameSize(window, r, dpi);
  while ((size.cx > width || size.cy > height) && dpi > kLowestDpi) size = FrameSize(window, r, --dpi);
  r.dpi = dpi;
  const int x = area.left + std::max(0, (width - static_cast<int>(size.cx)) / 2);
  const int y = area.top + std::max(0, (height - static_cast<int>(size.cy)) / 2);
  return RECT{x, y, x + size.cx, y + size.cy};
}

// The top-level window: caption, size, colour, font, icon, and the tooltip
// control its controls share.
void MakeTopWindow(Win32Platform::Impl& impl, Window& window, Realisation& r) {
  ChooseStyles(window, r);
  const RECT frame = CentredFrame(window, r, impl.screen ? impl.screen() : StartScreenArea());
  const Color back = window.BackColor();
  r.back = CreateSolidBrush(RGB(back.r, back.g, back.b));
  r.top = CreateWindowExA(r.exStyle, kWindowClass, window.Caption().c_str(), r.style, frame.left, frame.top,
                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, impl.instance, nullptr);
  if (r.top == nullptr) throw RuntimeError{7, "Out of memory: cannot create the window " + window.Name()};
  impl.realisationOf[r.top] = &r;
  SendMessageA(r.top, WM_SETFONT, reinterpret_cast<WPARAM>(impl.FontFor(Font{}, r.dpi)), FALSE);
  if (BitmapPtr icon = BitmapOf(window.Icon(), impl.wic)) {
    r.icon = MakeIcon(*icon);
    SendMessageA(r.top, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(r.icon));
    SendMessageA(r.top, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(r.icon));
  }
  r.tooltip =
      CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, r.top, nullptr, impl.instance, nullptr);
}

// The window class and styles of one control kind.
struct ChildClass {
  const char* name = nullptr;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD ex = 0;
};

ChildClass ClassOf(ControlKind kind) {
  ChildClass c;
  switch (kind) {
    case ControlKind::Label:
      c.name = "STATIC";
      c.style |= SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL;
      break;
    case ControlKind::TextBox:
      c.name = "EDIT";
      c.style |= ES_LEFT | ES_AUTOHSCROLL;
      c.ex = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::CheckBox:
      c.name = "BUTTON";
      c.style |= BS_CHECKBOX;
      break;
    case ControlKind::Frame:
      c.name = kFrameClass;
      c.style |= WS_CLIPCHILDREN;
      c.ex = WS_EX_CONTROLPARENT;
      break;
    case ControlKind::Button:
      c.name = "BUTTON";
      c.style |= BS_OWNERDRAW;
      break;
    case ControlKind::ListView:
      c.name = WC_LISTVIEWA;
      // Owner data: the rows stay in the model and the list asks for what it
      // draws, and for the row that fits what the user types (LVN_ODFINDITEM).
      c.style |= LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA;
      c.ex = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Image:
    case ControlKind::PictureBox: c.name = kPictureClass; break;
  }
  return c;
}

// One control's child window and peer; null when the window cannot be made.
HWND MakeControl(Win32Platform::Impl& impl, Realisation& r, Control& c, HWND parent) {
  const ChildClass cls = ClassOf(c.Kind());
  HWND hwnd = CreateWindowExA(cls.ex, cls.name, "", cls.style, 0, 0, 0, 0, parent, nullptr, impl.instance, nullptr);
  if (hwnd == nullptr) return nullptr;
  // The control registered first lies on top of its siblings.
  SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (c.Kind() == ControlKind::TextBox) SendMessageA(hwnd, EM_SETLIMITTEXT, 0, 0);  // no length limit
  auto peer = std::make_unique<ControlPeerW>(impl, r, c, hwnd);
  if (c.Kind() == ControlKind::ListView)
    system32::SetWindowSubclass(hwnd, ListSubclassProc, 1, reinterpret_cast<DWORD_PTR>(peer.get()));
  impl.peerOf[hwnd] = peer.get();
  c.AttachPeer(peer.get());
  peer->ApplyAll();
  r.controls.push_back(std::move(peer));
  return hwnd;
}

// Timer ids are the timers' places in the window, from 1.
void AttachTimers(Win32Platform::Impl& impl, Window& window, Realisation& r) {
  UINT_PTR id = 0;
  for (Timer* t : window.Timers()) {
    auto peer = std::make_unique<TimerPeerW>(impl, r, *t, ++id);
    t->AttachPeer(peer.get());
    r.timers.push_back(std::move(peer));
  }
}

}  // namespace

Win32Platform::ScreenArea StartScreenArea() {
  // Read once: the monitor of the start, not the one the pointer is on later.
  static const HMONITOR monitor = [] {
    // The shell passes the monitor it starts a program from in hStdOutput
    // when it passes no standard handles; anything else is not a monitor.
    STARTUPINFOA start{};
    start.cb = sizeof(start);
    GetStartupInfoA(&start);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if ((start.dwFlags & STARTF_USESTDHANDLES) == 0 && start.hStdOutput != nullptr &&
        GetMonitorInfoA(reinterpret_cast<HMONITOR>(start.hStdOutput), &info))
      return reinterpret_cast<HMONITOR>(start.hStdOutput);
    POINT pointer{0, 0};
    GetCursorPos(&pointer);
    return MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY);
  }();
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR shown = monitor;
  // A monitor unplugged since: the primary one.
  if (!GetMonitorInfoA(shown, &info)) {
    shown = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    GetMonitorInfoA(shown, &info);
  }
  return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom, MonitorDpi(shown)};
}

void Win32Platform::SetScreenArea(std::function<ScreenArea()> source) { impl_->screen = std::move(source); }

void Win32Platform::Realize(Window& window) {
  if (impl_->windows.count(&window) != 0) return;
  impl_->quitRequested = false;
  Impl& impl = *impl_;
  auto owned = std::make_unique<Realisation>();
  Realisation& r = *owned;
  r.window = &window;
  MakeTopWindow(impl, window, r);
  r.peer = std::make_unique<WindowPeerW>(r);
  window.AttachPeer(r.peer.get());
  Handles handles =
      RealizeControls(window, r.top, [&](Control& c, HWND parent) { return MakeControl(impl, r, c, parent); });
  AttachTimers(impl, window, r);
  impl.windows.emplace(&window, std::move(owned));
  ShowWindow(r.top, window.Minimized() ? SW_SHOWMINIMIZED : SW_SHOW);
  SetForegroundWindow(r.top);
  if (Control* focused = window.Focused(); focused != nullptr && handles.count(focused) != 0)
    impl.FocusHandle(handles[focused]);
  UpdateWindow(r.top);
}

void Win32Platform::Unrealize(Window& window) {
  // A window that still counts as shown is being destroyed: its controls and
  // timers, members of the derived window, are already gone.
  UnrealizeWindow(window, !window.Shown());
}

void Win32Platform::UnrealizeWindow(Window& window, bool controls_alive) {
  auto it = impl_->windows.find(&window);
  if (it == impl_->windows.end()) return;
  std::unique_ptr<Realisation> r = std::move(it->second);
  impl_->windows.erase(it);
  // Peers stop reporting now; the handles may be in the middle of one of
  // their own messages (a button that closes its window), so they go later.
  window.AttachPeer(nullptr);
  r->peer->Detach();
  r->window = nullptr;
  for (auto& peer : r->controls) {
    if (controls_alive) peer->Model().AttachPeer(nullptr);
    peer->Detach();
  }
  for (std::size_t i = 0; i < r->timers.size(); ++i) {
    if (controls_alive) window.Timers()[i]->AttachPeer(nullptr);
    r->timers[i]->Detach();
  }
  ShowWindow(r->top, SW_HIDE);
  HWND top = r->top;
  impl_->closing[top] = std::move(r);
  if (!PostMessageA(top, win32::kDestroyLater, 0, 0)) impl_->Destroy(top);
}

void Win32Platform::BringToFront(Window& window) {
  auto it = impl_->windows.find(&window);
  if (it == impl_->windows.end()) return;
  HWND top = it->second->top;
  if (IsIconic(top)) ShowWindow(top, SW_RESTORE);
  ShowWindow(top, SW_SHOW);
  BringWindowToTop(top);
  SetForegroundWindow(top);
}

}  // namespace zandrel::ui::win32
