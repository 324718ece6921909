#include "ui/PictureFile.h"
#include "ui/win32/Win32Internal.h"

#include <mmsystem.h>
#include <shellapi.h>
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
    case 'Y':
      // A text box keeps them: the edit control's own undo of typing.
      if ((GetKeyState(VK_CONTROL) & 0x8000) == 0 || kind == ControlKind::TextBox) return false;
      window->FireKey(key == 'Z' ? Key::CtrlZ : Key::CtrlY);
      return true;
    default: return false;
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
  win32::StartScreenArea();  // the monitor of the start is the one now
  impl_->comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
  system32::InitCommonControlsEx(&controls);
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
  impl_->pictures.Clear();
  if (impl_->wic != nullptr) impl_->wic->Release();
  if (impl_->comInitialised) CoUninitialize();
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

// WM_PAINT alone (messages sent to the windows are delivered by the peek
// too); a bounded number, in case a window leaves its area invalid.
// Peeking also keeps Windows from calling the window not responding.
void Win32Platform::DoPaintEvents() {
  constexpr int kMostPaints = 64;
  MSG msg;
  for (int i = 0; i < kMostPaints && PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
    DispatchMessageA(&msg);
}

std::int64_t Win32Platform::TickCount() const { return static_cast<std::int64_t>(GetTickCount64()); }

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
  return system32::sndPlaySoundA(path, flags) ? 1 : 0;
}

void Win32Platform::OpenWithShell(const std::string& target) {
  // The UTF-8 target through the W function: a URI's text is Unicode.
  const int length = MultiByteToWideChar(CP_UTF8, 0, target.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, target.c_str(), -1, wide.data(), length);
  ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  impl_->opened.push_back(target);
}

const std::vector<std::string>& Win32Platform::ShellOpened() const { return impl_->opened; }

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
