// The program's modal boxes, the file-open dialog, and the list's context menu.
#include "ui/win32/Win32Internal.h"

#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>

namespace zandrel::ui::win32 {
namespace {

// The Win32 answers and flags have the values of the model's own constants.
static_assert(IDYES == 6 && IDNO == 7 && IDOK == 1 && IDCANCEL == 2 && MB_YESNO == 4 && MB_YESNOCANCEL == 3 &&
              MB_DEFBUTTON3 == 0x200 && OFN_FILEMUSTEXIST == 0x1000);

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

namespace {

// While a modal box or dialog shows, every window of the program waits for
// it, not only its owner, which the system disables itself (an exit
// confirmation's "Да" must not close the manager under the file dialog);
// each gets back to work when it closes.
class OthersWait {
 public:
  OthersWait(Win32Platform::Impl& impl, HWND owner) : impl_(impl) {
    for (const auto& [window, r] : impl.windows)
      if (r->top != owner && IsWindowEnabled(r->top)) {
        EnableWindow(r->top, FALSE);
        waiting_.push_back(r->top);
      }
  }
  ~OthersWait() {
    for (HWND top : waiting_)
      if (IsWindow(top) && !impl_.fatal) EnableWindow(top, TRUE);
    impl_.lastFocus = nullptr;  // the focus comes back to wherever the system puts it
  }
  OthersWait(const OthersWait&) = delete;
  OthersWait& operator=(const OthersWait&) = delete;

 private:
  Win32Platform::Impl& impl_;
  std::vector<HWND> waiting_;
};

// The program's window the user works in, which owns the boxes: they stay
// in front of it, on its monitor, without a taskbar button of their own.
// Null when none of the program's windows is active.
HWND ActiveOwner(const Win32Platform::Impl& impl) {
  HWND active = GetActiveWindow();
  return impl.FindRealisation(active) != nullptr ? active : nullptr;
}

}  // namespace

int Win32Platform::MsgBox(const std::string& text, int flags, const std::string& title) {
  HWND owner = ActiveOwner(*impl_);
  // Without an owner, task-modal: the system holds every window of the thread.
  const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
  OthersWait others(*impl_, owner);
  return MessageBoxA(owner, text.c_str(), title.c_str(), static_cast<UINT>(flags) | modality);
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
  ofn.hwndOwner = ActiveOwner(*impl_);
  ofn.lpstrFilter = dialog.Filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(std::max(0, dialog.FilterIndex));
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  // No "read only" box: the program only reads the path.
  ofn.Flags = static_cast<DWORD>(dialog.Flags) | OFN_EXPLORER | OFN_HIDEREADONLY;
  BOOL chosen = FALSE;
  {
    OthersWait others(*impl_, ofn.hwndOwner);
    chosen = GetOpenFileNameA(&ofn);
  }
  if (!chosen) {
    const DWORD error = CommDlgExtendedError();
    if (error != 0) throw DialogError(error);
    if (dialog.CancelError) throw RuntimeError{kCancelErrorNumber, "Cancel was selected."};
    return;
  }
  dialog.FileName = file.data();
  dialog.FilterIndex = static_cast<int>(ofn.nFilterIndex);
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

bool ListMenuRequested(const MSG& msg) {
  if (msg.message == WM_RBUTTONDOWN) return true;
  return msg.message == WM_KEYDOWN &&
         (msg.wParam == VK_APPS || (msg.wParam == VK_F10 && (GetKeyState(VK_SHIFT) & 0x8000) != 0));
}

bool ShowListMenu(const MSG& msg, ListView& list) {
  if (list.ContextMenu().empty()) return false;
  POINT at{};
  if (msg.message == WM_RBUTTONDOWN) {
    at = POINT{GET_X_LPARAM(msg.lParam), GET_Y_LPARAM(msg.lParam)};
    // The menu is the row's under the pointer, as the list selects it on a right click it sees itself.
    LVHITTESTINFO hit{};
    hit.pt = at;
    const auto row = static_cast<long>(SendMessageA(msg.hwnd, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row >= 0) list.Select(row);
    ClientToScreen(msg.hwnd, &at);
  } else {
    RECT rect{};
    GetWindowRect(msg.hwnd, &rect);
    at = POINT{rect.left, rect.top};
  }
  HMENU menu = CreatePopupMenu();
  UINT id = 0;
  for (const std::string& entry : list.ContextMenu()) {
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, entry.c_str(), -1, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, entry.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    AppendMenuW(menu, MF_STRING, ++id, wide.c_str());
  }
  const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0,
                                    GetAncestor(msg.hwnd, GA_ROOT), nullptr);
  DestroyMenu(menu);
  if (chosen > 0) list.FireContextMenu(static_cast<std::size_t>(chosen - 1));
  return true;
}

}  // namespace zandrel::ui::win32
