// The window procedures of the window classes the realisation registers
// (top-level window, frame, picture) and of the list's subclass: each passes
// what it hears to the peer of the control or window concerned.
#include "ui/win32/Win32Internal.h"

#include <cstring>

namespace zandrel::ui::win32 {

namespace {

Win32Platform::Impl* g_impl = nullptr;

}  // namespace

void ServeWindowsOf(Win32Platform::Impl& impl) { g_impl = &impl; }

HCURSOR PointerCursor(int pointer) {
  return LoadCursor(nullptr, pointer == kPointerHourglass ? IDC_WAIT : pointer == 13 ? IDC_APPSTARTING : IDC_ARROW);
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Win32Platform::Impl* impl = g_impl;
  if (impl == nullptr) return DefWindowProcA(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_COMMAND:
      if (lp != 0)
        if (ControlPeerW* peer = impl->FindPeer(reinterpret_cast<HWND>(lp))) peer->OnCommand(HIWORD(wp));
      return 0;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lp);
      if (ControlPeerW* peer = impl->FindPeer(header->hwndFrom)) return peer->OnNotify(header);
      break;
    }
    case WM_NOTIFYFORMAT:
      // A list asks for its texts in UTF-16, its own form: no copy of ours
      // passes through a buffer of the control's size.
      return NFR_UNICODE;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (ControlPeerW* peer = impl->FindPeer(item->hwndItem)) {
        peer->OnDrawItem(*item);
        return TRUE;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
      ControlPeerW* peer = impl->FindPeer(reinterpret_cast<HWND>(lp));
      if (peer == nullptr || peer->BackBrush() == nullptr) break;
      HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, Ref(peer->Model().ForeColor()));
      SetBkColor(dc, Ref(peer->Model().BackColor()));
      return reinterpret_cast<LRESULT>(peer->BackBrush());
    }
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd, &r);
      HBRUSH brush = nullptr;
      if (Realisation* owner = impl->FindRealisation(hwnd)) brush = owner->back;
      if (ControlPeerW* peer = impl->FindPeer(hwnd)) brush = peer->BackBrush();
      FillRect(reinterpret_cast<HDC>(wp), &r,
               brush != nullptr ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      return 1;
    }
    case WM_PAINT: {
      char name[32] = {};
      GetClassNameA(hwnd, name, sizeof name);
      if (std::strcmp(name, kFrameClass) == 0) {
        PaintFrame(hwnd, impl->FindPeer(hwnd));
        return 0;
      }
      break;
    }
    case WM_TIMER:
      if (Realisation* owner = impl->FindRealisation(hwnd)) {
        if (wp >= 1 && wp <= owner->timers.size()) owner->timers[wp - 1]->Tick();
        return 0;
      }
      break;
    case WM_CLOSE: return 0;  // no close box: only the program's own buttons close a window
    case WM_SIZE:
      if (Realisation* owner = impl->FindRealisation(hwnd); owner != nullptr && owner->window != nullptr) {
        const bool minimized = wp == SIZE_MINIMIZED;
        if (owner->window->Minimized() != minimized && (wp == SIZE_MINIMIZED || wp == SIZE_RESTORED))
          owner->window->SetMinimized(minimized);
      }
      break;
    case WM_ACTIVATE:
      // Coming back to a window gives the focus back to its focused control.
      if (LOWORD(wp) != WA_INACTIVE)
        if (Realisation* owner = impl->FindRealisation(hwnd); owner != nullptr && owner->window != nullptr)
          if (Control* focused = owner->window->Focused(); focused != nullptr && focused->Peer() != nullptr) {
            static_cast<ControlPeerW*>(focused->Peer())->Update(Property::Focus);
            return 0;
          }
      break;
    case WM_SETCURSOR:
      if (PointerBusy(impl->pointer)) {
        SetCursor(PointerCursor(impl->pointer));
        return TRUE;
      }
      break;
    case WM_DPICHANGED:
      if (Realisation* owner = impl->FindRealisation(hwnd); owner != nullptr && owner->window != nullptr) {
        owner->dpi = HIWORD(wp);
        const RECT* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        owner->peer->Update(Property::Geometry);
        for (auto& peer : owner->controls)
          for (Property p : {Property::Font, Property::Geometry, Property::Columns, Property::Pictures})
            peer->Update(p);
        return 0;
      }
      break;
    case kDestroyLater: impl->Destroy(hwnd); return 0;
    default: break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// Image and picture box: painted by PaintPicture. An image lets the mouse
// through to what lies below.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Win32Platform::Impl* impl = g_impl;
  ControlPeerW* peer = impl != nullptr ? impl->FindPeer(hwnd) : nullptr;
  switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: PaintPicture(hwnd, peer); return 0;
    case WM_NCHITTEST:
      if (peer != nullptr && !peer->Detached() && peer->Model().Kind() == ControlKind::Image) return HTTRANSPARENT;
      break;
    case WM_SETCURSOR:
      if (impl != nullptr && PointerBusy(impl->pointer)) {
        SetCursor(PointerCursor(impl->pointer));
        return TRUE;
      }
      break;
    default: break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// The list's own header reports the user's dragging of column borders to the
// list, not to the list's parent: the list is subclassed to hear it.
LRESULT CALLBACK ListSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  LRESULT result = system32::DefSubclassProc(hwnd, msg, wp, lp);
  if (msg == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lp);
    switch (header->code) {
      case HDN_ENDTRACKA:
      case HDN_ENDTRACKW:
      case HDN_ITEMCHANGEDA:
      case HDN_ITEMCHANGEDW:
      case HDN_DIVIDERDBLCLICKA:
      case HDN_DIVIDERDBLCLICKW: reinterpret_cast<ControlPeerW*>(data)->OnHeaderChanged(); break;
      default: break;
    }
  }
  return result;
}

}  // namespace zandrel::ui::win32
