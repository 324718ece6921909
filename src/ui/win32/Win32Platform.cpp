#include "ui/PictureFile.h"
#include "ui/win32/Win32Internal.h"

#include <commdlg.h>
#include <mmsystem.h>
#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zandrel::ui::win32 {

using win32::ControlPeerW;
using win32::Realisation;

namespace {

// The Win32 answers and flags have the values of the model's own constants.
static_assert(IDYES == 6 && IDNO == 7 && IDOK == 1 && MB_YESNO == 4 && SND_ASYNC == 1 && OFN_FILEMUSTEXIST == 0x1000);

ATOM RegisterHostClass(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  return RegisterClassExA(&wc);
}

// The common dialog's error numbers, as the facility reports them.
RuntimeError DialogError(DWORD code) {
  char text[96];
  switch (code) {
    case FNERR_BUFFERTOOSMALL: return {20476, "Buffer too small"};
    case FNERR_INVALIDFILENAME: return {20477, "Invalid filename"};
    case FNERR_SUBCLASSFAILURE: return {20478, "Subclass failure"};
    case CDERR_INITIALIZATION: return {32765, "Initialization failure"};
    case CDERR_MEMALLOCFAILURE: return {32759, "Failed to allocate memory"};
    default:
      std::snprintf(text, sizeof text, "Dialog failure (0x%04lX)", static_cast<unsigned long>(code));
      return {-32768, text};
  }
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
  if (msg.message != WM_KEYDOWN && msg.message != WM_CHAR && msg.message != WM_KEYUP) return false;
  Window* window = nullptr;
  ControlPeerW* peer = nullptr;
  for (HWND h = msg.hwnd; h != nullptr && window == nullptr; h = GetParent(h)) {
    if (peer == nullptr) peer = FindPeer(h);
    if (Realisation* r = FindRealisation(h)) window = r->window;
  }
  if (window == nullptr || fatal) return false;
  const ControlKind kind = peer != nullptr ? peer->Model().Kind() : ControlKind::Label;
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
  impl_->pictures.Clear();
  if (impl_->wic != nullptr) impl_->wic->Release();
  if (impl_->comInitialised) CoUninitialize();
}

// --- Services --------------------------------------------------------------------

int Win32Platform::MsgBox(const std::string& text, int flags, const std::string& title) {
  // Task-modal: every window of the program waits for the answer.
  const int answer = MessageBoxA(nullptr, text.c_str(), title.c_str(), static_cast<UINT>(flags) | MB_TASKMODAL);
  impl_->lastFocus = nullptr;  // the focus comes back to wherever the system puts it
  return answer;
}

void Win32Platform::ShowOpen(CommonDialog& dialog) {
  // "desc|pattern|desc|pattern|" as the dialog's pairs of NUL-terminated texts.
  std::string filter = dialog.Filter;
  std::replace(filter.begin(), filter.end(), '|', '\0');
  filter.append(2, '\0');
  std::string ext = dialog.DefaultExt;
  ext.erase(0, ext.find_first_not_of('.') == std::string::npos ? ext.size() : ext.find_first_not_of('.'));
  std::vector<char> file(32768, '\0');
  std::copy_n(dialog.FileName.begin(), std::min(dialog.FileName.size(), file.size() - 1), file.begin());

  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = GetActiveWindow();
  ofn.lpstrFilter = dialog.Filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(std::max(0, dialog.FilterIndex));
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  ofn.Flags = static_cast<DWORD>(dialog.Flags) | OFN_EXPLORER;
  // The dialog disables its owner only; every other window of the program
  // waits too, as under a message box (an exit confirmation's "Да" must not
  // close the manager under the dialog).
  std::vector<HWND> waiting;
  for (const auto& [window, r] : impl_->windows)
    if (r->top != ofn.hwndOwner && IsWindowEnabled(r->top)) {
      EnableWindow(r->top, FALSE);
      waiting.push_back(r->top);
    }
  const BOOL chosen = GetOpenFileNameA(&ofn);
  for (HWND top : waiting)
    if (IsWindow(top) && !impl_->fatal) EnableWindow(top, TRUE);
  impl_->lastFocus = nullptr;
  if (!chosen) {
    const DWORD error = CommDlgExtendedError();
    if (error != 0) throw DialogError(error);
    if (dialog.CancelError) throw RuntimeError{kCancelErrorNumber, "Cancel was selected."};
    return;
  }
  dialog.FileName = file.data();
  dialog.FilterIndex = static_cast<int>(ofn.nFilterIndex);
}

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

void Win32Platform::Fatal(const RuntimeError& error) {
  if (impl_->fatal) return;
  impl_->fatal = true;
  // Nothing of the program runs any more: no ticks while the message shows.
  for (auto& [window, r] : impl_->windows) {
    for (auto& timer : r->timers) timer->Stop();
    EnableWindow(r->top, FALSE);
  }
  SetMousePointer(kPointerDefault);
  MessageBoxA(nullptr, error.description.c_str(), kAppTitle, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  for (auto& [window, r] : impl_->windows) ShowWindow(r->top, SW_HIDE);
  if (impl_->inLoop) PostQuitMessage(1);
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
