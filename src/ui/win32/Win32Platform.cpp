#include "ui/PictureFile.h"
#include "ui/win32/Win32Internal.h"

#include <mmsystem.h>
#include <shellscalingapi.h>
#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>

namespace zandrel::ui::win32 {

using win32::ControlPeerW;
using win32::Realisation;

namespace {

static_assert(SND_ASYNC == 1);  // the model's own constant

ATOM RegisterHostClass(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  return RegisterClassExA(&wc);
}

UINT MonitorDpi(HMONITOR monitor) {
  UINT x = 96, y = 96;
  if (FAILED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y)) || y == 0) return 96;
  return y;
}

// The window's icon from its picture: the colours, and a mask from their alpha.
HICON MakeIcon(const win32::Bitmap& bitmap) {
  HBITMAP mask = CreateBitmap(bitmap.width, bitmap.height, 1, 1, nullptr);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = bitmap.handle;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(mask);
  return icon;
}

}  // namespace

// --- Impl ------------------------------------------------------------------------

HFONT Win32Platform::Impl::FontFor(const Font& font, UINT dpi) {
  const int tenths = static_cast<int>(std::lround(font.size * 10.0f));
  const auto key = std::make_tuple(font.name, tenths, font.bold, font.charset, dpi);
  auto it = fonts.find(key);
  if (it != fonts.end()) return it->second;
  const int height = -static_cast<int>(std::lround(font.size * dpi / 72.0));
  // MS Sans Serif is a bitmap font of a few fixed sizes; its TrueType
  // successor scales to every dpi and has a bold face.
  const std::string face = font.name == "MS Sans Serif" ? "Microsoft Sans Serif" : font.name;
  HFONT handle = CreateFontA(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             static_cast<DWORD>(font.charset == 0 ? DEFAULT_CHARSET : font.charset), OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str());
  fonts.emplace(key, handle);
  return handle;
}

ControlPeerW* Win32Platform::Impl::FindPeer(HWND hwnd) const {
  auto it = peerOf.find(hwnd);
  return it == peerOf.end() || it->second->Detached() ? nullptr : it->second;
}

Realisation* Win32Platform::Impl::FindRealisation(HWND hwnd) const {
  auto it = realisationOf.find(hwnd);
  return it == realisationOf.end() ? nullptr : it->second;
}

void Win32Platform::Impl::FocusHandle(HWND hwnd) {
  if (syncingFocus || hwnd == nullptr) return;
  syncingFocus = true;
  SetFocus(hwnd);
  lastFocus = GetFocus();
  syncingFocus = false;
}

void Win32Platform::Impl::SyncFocus() {
  HWND focus = GetFocus();
  if (focus == lastFocus) return;
  lastFocus = focus;
  if (syncingFocus) return;
  for (HWND h = focus; h != nullptr; h = GetParent(h)) {
    if (ControlPeerW* peer = FindPeer(h)) {
      syncingFocus = true;
      peer->Model().Owner().SetFocusTo(&peer->Model());
      syncingFocus = false;
      return;
    }
    if (FindRealisation(h) != nullptr) return;
  }
}

bool Win32Platform::Impl::TranslateKey(const MSG& msg) {
  const bool menu = ListMenuRequested(msg);
  if (msg.message != WM_KEYDOWN && msg.message != WM_CHAR && msg.message != WM_KEYUP && !menu) return false;
  Window* window = nullptr;
  ControlPeerW* peer = nullptr;
  for (HWND h = msg.hwnd; h != nullptr && window == nullptr; h = GetParent(h)) {
    if (peer == nullptr) peer = FindPeer(h);
    if (Realisation* r = FindRealisation(h)) window = r->window;
  }
  if (window == nullptr || fatal) return false;
  const ControlKind kind = peer != nullptr ? peer->Model().Kind() : ControlKind::Label;
  if (menu) return kind == ControlKind::ListView && ShowListMenu(msg, static_cast<ListView&>(peer->Model()));
  const bool pressable = peer != nullptr && (kind == ControlKind::Button || kind == ControlKind::CheckBox);
  const WPARAM key = msg.wParam;
  if (msg.message == WM_CHAR) return key == '\t' || (pressable && (key == ' ' || key == '\r'));
  if (msg.message == WM_KEYUP) return pressable && (key == VK_SPACE || key == VK_RETURN);
  switch (key) {
    case VK_TAB: {
      const bool back = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
      window->FireKey(back ? Key::BackTab : Key::Tab);
      return true;
    }
    case VK_RETURN:
      if (kind != ControlKind::Button || peer == nullptr) return false;
      window->FireKey(Key::Enter);
      return true;
    case VK_SPACE:
      if (!pressable) return false;
      if ((msg.lParam & (1 << 30)) == 0) window->FireKey(Key::Space);  // not the key's auto-repeat
      return true;
    case 'Z':
      if ((GetKeyState(VK_CONTROL) & 0x8000) == 0) return false;
      window->FireKey(Key::CtrlZ);
      return true;
    default:
      return false;
  }
}

void Win32Platform::Impl::Pump(MSG& msg) {
  if (!TranslateKey(msg)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  SyncFocus();
}

void Win32Platform::Impl::Destroy(HWND top) {
  auto it = closing.find(top);
  if (it == closing.end()) return;
  std::unique_ptr<Realisation> r = std::move(it->second);
  closing.erase(it);
  if (r->tooltip != nullptr) DestroyWindow(r->tooltip);
  DestroyWindow(r->top);
  realisationOf.erase(top);
  for (auto& peer : r->controls) peerOf.erase(peer->Handle());
}

// --- Platform --------------------------------------------------------------------

Win32Platform::Win32Platform() : impl_(std::make_unique<Impl>()) {
  impl_->instance = GetModuleHandleA(nullptr);
  impl_->comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterHostClass(impl_->instance, win32::kWindowClass, win32::HostProc);
  RegisterHostClass(impl_->instance, win32::kFrameClass, win32::HostProc);
  RegisterHostClass(impl_->instance, win32::kPictureClass, win32::PictureProc);
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&impl_->wic))))
    impl_->wic = nullptr;
}

Win32Platform::~Win32Platform() {
  std::vector<Window*> left;
  for (auto& [window, r] : impl_->windows) left.push_back(const_cast<Window*>(window));
  for (Window* w : left) UnrealizeWindow(*w, true);
  while (!impl_->closing.empty()) impl_->Destroy(impl_->closing.begin()->first);
  for (auto& [key, font] : impl_->fonts) DeleteObject(font);
  impl_->pictures = win32::BitmapCache();
  if (impl_->wic != nullptr) impl_->wic->Release();
  if (impl_->comInitialised) CoUninitialize();
}

void Win32Platform::Realize(Window& window) {
  if (impl_->windows.count(&window) != 0) return;
  impl_->quitRequested = false;
  Impl& impl = *impl_;
  auto owned = std::make_unique<Realisation>();
  Realisation& r = *owned;
  r.window = &window;

  // No WS_SYSMENU: no control menu, no close, minimise or maximise box.
  r.style = WS_POPUP | WS_CLIPCHILDREN;
  if (window.HasTitleBar())
    r.style |= WS_CAPTION;
  else if (window.Border() != BorderStyle::None)
    r.style |= WS_BORDER;
  r.exStyle = window.ShowInTaskbar() ? WS_EX_APPWINDOW : WS_EX_TOOLWINDOW;

  POINT origin{0, 0};
  HMONITOR monitor = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
  r.dpi = MonitorDpi(monitor);
  RECT frame{0, 0, r.ToPixels(window.ClientWidth()), r.ToPixels(window.ClientHeight())};
  AdjustWindowRectExForDpi(&frame, r.style, FALSE, r.exStyle, r.dpi);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoA(monitor, &info);
  const RECT& area = info.rcWork;
  const int x = area.left + (area.right - area.left - w) / 2;
  const int y = area.top + (area.bottom - area.top - h) / 2;

  const Color back = window.BackColor();
  r.back = CreateSolidBrush(RGB(back.r, back.g, back.b));
  r.top = CreateWindowExA(r.exStyle, win32::kWindowClass, window.Caption().c_str(), r.style, x, y, w, h, nullptr,
                          nullptr, impl.instance, nullptr);
  if (r.top == nullptr) throw RuntimeError{7, "Out of memory: cannot create the window " + window.Name()};
  impl.realisationOf[r.top] = &r;
  SendMessageA(r.top, WM_SETFONT, reinterpret_cast<WPARAM>(impl.FontFor(Font{}, r.dpi)), FALSE);
  if (win32::BitmapPtr icon = win32::BitmapOf(window.Icon(), impl.wic)) {
    r.icon = MakeIcon(*icon);
    SendMessageA(r.top, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(r.icon));
    SendMessageA(r.top, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(r.icon));
  }
  r.tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, r.top, nullptr,
                              impl.instance, nullptr);
  r.peer = std::make_unique<win32::WindowPeerW>(r);
  window.AttachPeer(r.peer.get());

  // Containers first, so that every control finds its parent's handle.
  std::map<const Control*, HWND> handles;
  std::vector<Control*> pending(window.Controls().begin(), window.Controls().end());
  while (!pending.empty()) {
    std::vector<Control*> later;
    for (Control* c : pending) {
      HWND parent = r.top;
      if (c->Container() != nullptr) {
        auto it = handles.find(c->Container());
        if (it == handles.end()) {
          later.push_back(c);
          continue;
        }
        parent = it->second;
      }
      const char* cls = nullptr;
      DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
      DWORD ex = 0;
      switch (c->Kind()) {
        case ControlKind::Label:
          cls = "STATIC";
          style |= SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL;
          break;
        case ControlKind::TextBox:
          cls = "EDIT";
          style |= ES_LEFT | ES_AUTOHSCROLL;
          ex = WS_EX_CLIENTEDGE;
          break;
        case ControlKind::CheckBox:
          cls = "BUTTON";
          style |= BS_CHECKBOX;
          break;
        case ControlKind::Frame:
          cls = win32::kFrameClass;
          style |= WS_CLIPCHILDREN;
          ex = WS_EX_CONTROLPARENT;
          break;
        case ControlKind::Button:
          cls = "BUTTON";
          style |= BS_OWNERDRAW;
          break;
        case ControlKind::ListView:
          cls = WC_LISTVIEWA;
          // Owner data: the rows stay in the model and the list asks for what it draws.
          style |= LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA | LVS_NOSORTHEADER;
          ex = WS_EX_CLIENTEDGE;
          break;
        case ControlKind::Image:
        case ControlKind::PictureBox:
          cls = win32::kPictureClass;
          break;
      }
      HWND hwnd = CreateWindowExA(ex, cls, "", style, 0, 0, 0, 0, parent, nullptr, impl.instance, nullptr);
      if (hwnd == nullptr) continue;
      // The control registered first lies on top of its siblings.
      SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      if (c->Kind() == ControlKind::TextBox) SendMessageA(hwnd, EM_SETLIMITTEXT, 0, 0);  // no length limit
      handles[c] = hwnd;
      auto peer = std::make_unique<ControlPeerW>(impl, r, *c, hwnd);
      if (c->Kind() == ControlKind::ListView)
        SetWindowSubclass(hwnd, win32::ListSubclassProc, 1, reinterpret_cast<DWORD_PTR>(peer.get()));
      impl.peerOf[hwnd] = peer.get();
      c->AttachPeer(peer.get());
      peer->ApplyAll();
      r.controls.push_back(std::move(peer));
    }
    if (later.size() == pending.size()) break;  // a container outside this window: not shown
    pending = std::move(later);
  }

  UINT_PTR id = 0;
  for (Timer* t : window.Timers()) {
    auto peer = std::make_unique<win32::TimerPeerW>(impl, r, *t, ++id);
    t->AttachPeer(peer.get());
    r.timers.push_back(std::move(peer));
  }

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

// --- Services --------------------------------------------------------------------

void Win32Platform::SetMousePointer(int pointer) {
  impl_->pointer = pointer;
  SetCursor(win32::PointerCursor(pointer));
}

int Win32Platform::MousePointer() const { return impl_->pointer; }

void Win32Platform::DoEvents() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that waits for it
      break;
    }
    impl_->Pump(msg);
  }
}

PicturePtr Win32Platform::LoadPicture(const std::string& path) {
  // Throws 53 or 481 with the file named. Bytes decoded before passed every
  // check then and pass them now: only bytes not seen yet meet the decoder.
  auto picture = std::const_pointer_cast<Picture>(ReadPictureFile(path));
  win32::BitmapPtr bitmap = impl_->pictures.Find(picture->bytes);
  if (!bitmap) {
    bitmap = win32::DecodeBitmap(*picture, impl_->wic);
    impl_->pictures.Insert(picture->bytes, bitmap);
  }
  picture->native = std::const_pointer_cast<win32::Bitmap>(bitmap);
  return picture;
}

std::int32_t Win32Platform::sndPlaySoundA(const char* path, std::uint32_t flags) {
  return ::sndPlaySoundA(path, flags) ? 1 : 0;
}

void Win32Platform::SHChangeNotify(std::int32_t wEventId, std::uint32_t uFlags, const void* dwItem1,
                                   const void* dwItem2) {
  ::SHChangeNotify(static_cast<LONG>(wEventId), uFlags, dwItem1, dwItem2);
  impl_->notifies.push_back(ShellNotify{wEventId, uFlags});
}

const std::vector<Win32Platform::ShellNotify>& Win32Platform::ShellNotifies() const { return impl_->notifies; }

std::string Win32Platform::ExecutableFolder() {
  std::vector<char> path(32768, '\0');
  const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  std::string folder(path.data(), std::min<std::size_t>(n, path.size()));
  const std::size_t slash = folder.find_last_of("\\/");
  folder.resize(slash == std::string::npos ? 0 : slash);
  return folder;
}

bool Win32Platform::FatalHappened() const { return impl_->fatal; }

void Win32Platform::Quit() {
  impl_->quitRequested = true;
  if (impl_->inLoop) PostQuitMessage(impl_->fatal ? 1 : 0);
}

int Win32Platform::Exec() {
  if (impl_->fatal) return 1;
  if (impl_->quitRequested) return 0;  // until a window opens again
  impl_->inLoop = true;
  MSG msg;
  int status = 0;
  while (true) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      status = static_cast<int>(msg.wParam);
      break;
    }
    if (got == -1) break;
    impl_->Pump(msg);
  }
  impl_->inLoop = false;
  return impl_->fatal ? 1 : status;
}

}  // namespace zandrel::ui::win32
