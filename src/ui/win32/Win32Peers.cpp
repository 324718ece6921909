// Peers of the Win32 realisation and the window procedures of the window
// classes it registers (top-level window, frame, picture).
#include "ui/win32/Win32Internal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zandrel::ui::win32 {

namespace {

COLORREF Ref(Color c) { return RGB(c.r, c.g, c.b); }

Win32Platform::Impl* g_impl = nullptr;

// The colour behind a control that paints nothing of its own: its container's.
Color ContainerBack(const Control& control) {
  return control.Container() != nullptr ? control.Container()->BackColor() : control.Owner().BackColor();
}

// Texts drawn by hand go through the W function: DrawTextA decodes by the
// code page of the selected font's character set (1251 for a Cyrillic font),
// not by the process's UTF-8 code page.
std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return wide;
}

void DrawWide(HDC dc, const std::wstring& text, RECT* rect, UINT format) {
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), rect, format);
}

void DrawCaption(HDC dc, const std::string& text, RECT rect, UINT format, bool enabled, COLORREF fore) {
  const std::wstring wide = Wide(text);
  SetBkMode(dc, TRANSPARENT);
  if (enabled) {
    SetTextColor(dc, fore);
    DrawWide(dc, wide, &rect, format);
    return;
  }
  RECT shadow = rect;
  OffsetRect(&shadow, 1, 1);
  SetTextColor(dc, RGB(255, 255, 255));
  DrawWide(dc, wide, &shadow, format);
  SetTextColor(dc, RGB(128, 128, 128));
  DrawWide(dc, wide, &rect, format);
}

// A frame drawn as a group box: its background throughout, an etched line
// whose top edge runs through the middle of the caption, the caption at the
// left interrupting it.
void PaintFrame(HWND hwnd, ControlPeerW* peer) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  if (peer == nullptr || peer->Detached()) {
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EndPaint(hwnd, &ps);
    return;
  }
  auto& frame = static_cast<Frame&>(peer->Model());
  FillRect(dc, &client, peer->BackBrush());
  HGDIOBJ old = SelectObject(dc, peer->CurrentFont());
  TEXTMETRICA metrics;
  GetTextMetricsA(dc, &metrics);
  RECT edge = client;
  edge.top = std::max<LONG>(0, metrics.tmHeight / 2 - 1);
  DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
  const std::string& caption = frame.Caption();
  if (!caption.empty()) {
    RECT text{7, 0, std::max<LONG>(7, client.right - 7), metrics.tmHeight};
    RECT measured = text;
    DrawWide(dc, Wide(caption), &measured, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_CALCRECT);
    measured.right = std::min(measured.right, text.right);
    RECT gap{measured.left - 1, 0, measured.right + 1, measured.bottom + 1};
    FillRect(dc, &gap, peer->BackBrush());
    DrawCaption(dc, caption, measured, DT_LEFT | DT_TOP | DT_SINGLELINE, frame.EffectivelyEnabled(),
                Ref(frame.ForeColor()));
  }
  SelectObject(dc, old);
  EndPaint(hwnd, &ps);
}

}  // namespace

HCURSOR PointerCursor(int pointer) {
  return LoadCursor(nullptr, pointer == kPointerHourglass ? IDC_WAIT : pointer == 13 ? IDC_APPSTARTING : IDC_ARROW);
}

// --- Realisation ---------------------------------------------------------------

int Realisation::ToPixels(float twips) const {
  return static_cast<int>(std::lround(static_cast<double>(twips) / 15.0 * dpi / 96.0));
}

float Realisation::ToTwips(int pixels) const {
  return static_cast<float>(std::round(pixels * 15.0 * 96.0 / dpi));
}

Realisation::~Realisation() {
  if (back != nullptr) DeleteObject(back);
  if (icon != nullptr) DestroyIcon(icon);
}

// --- ControlPeerW ----------------------------------------------------------------

ControlPeerW::ControlPeerW(Win32Platform::Impl& impl, Realisation& owner, Control& control, HWND hwnd)
    : impl_(impl), owner_(owner), control_(control), hwnd_(hwnd) {
  g_impl = &impl;
}

ControlPeerW::~ControlPeerW() {
  if (brush_ != nullptr) DeleteObject(brush_);
}

void ControlPeerW::ApplyAll() {
  for (Property p : {Property::Font, Property::Colors, Property::ToolTip, Property::Caption, Property::Value,
                     Property::Pictures, Property::ListOptions, Property::Columns, Property::Items,
                     Property::Geometry, Property::Enabled, Property::Visible})
    Update(p);
}

void ControlPeerW::Update(Property what) {
  if (detached_) return;
  const bool was = applying_;
  applying_ = true;
  switch (what) {
    case Property::Visible:
      ShowWindow(hwnd_, control_.Visible() ? SW_SHOWNA : SW_HIDE);
      break;
    case Property::Enabled:
      EnableWindow(hwnd_, control_.Enabled() ? TRUE : FALSE);
      // Children of a frame draw by their effective state.
      RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
      break;
    case Property::Geometry: {
      const Rect& r = control_.Geometry();
      SetWindowPos(hwnd_, nullptr, owner_.ToPixels(r.left), owner_.ToPixels(r.top), owner_.ToPixels(r.width),
                   owner_.ToPixels(r.height), SWP_NOZORDER | SWP_NOACTIVATE);
      break;
    }
    case Property::Caption:
    case Property::Text: {
      const std::string* text = nullptr;
      switch (control_.Kind()) {
        case ControlKind::Label: text = &static_cast<Label&>(control_).Caption(); break;
        case ControlKind::CheckBox: text = &static_cast<CheckBox&>(control_).Caption(); break;
        case ControlKind::Frame: text = &static_cast<Frame&>(control_).Caption(); break;
        case ControlKind::Button: text = &static_cast<Button&>(control_).Caption(); break;
        case ControlKind::TextBox: text = &static_cast<TextBox&>(control_).Text(); break;
        default: break;
      }
      if (text == nullptr) break;
      std::string shown(static_cast<std::size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
      shown.resize(static_cast<std::size_t>(GetWindowTextA(hwnd_, shown.data(), static_cast<int>(shown.size()))));
      if (shown != *text) SetWindowTextA(hwnd_, text->c_str());
      if (control_.Kind() == ControlKind::Frame) InvalidateRect(hwnd_, nullptr, TRUE);
      break;
    }
    case Property::Value:
      if (control_.Kind() == ControlKind::CheckBox)
        SendMessageA(hwnd_, BM_SETCHECK, static_cast<CheckBox&>(control_).Value() == 1 ? BST_CHECKED : BST_UNCHECKED,
                     0);
      break;
    case Property::Font:
      font_ = impl_.FontFor(control_.GetFont(), owner_.dpi);
      SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
      break;
    case Property::Colors:
      ApplyColors();
      break;
    case Property::ToolTip:
      ApplyToolTip();
      break;
    case Property::Pictures:
      ApplyPictures();
      break;
    case Property::Focus:
      impl_.FocusHandle(hwnd_);
      break;
    case Property::Items:
      ApplyItems();
      break;
    case Property::Selection:
      ApplySelection();
      break;
    case Property::Columns:
      ApplyColumns();
      break;
    case Property::ListOptions:
      ApplyListOptions();
      break;
    case Property::TabIndex:
    case Property::Interval:
    case Property::WindowState:
      break;
  }
  applying_ = was;
}

void ControlPeerW::ApplyColors() {
  if (brush_ != nullptr) DeleteObject(brush_);
  brush_ = CreateSolidBrush(Ref(control_.BackColor()));
  if (control_.Kind() == ControlKind::ListView) {
    SendMessageA(hwnd_, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(Ref(control_.BackColor())));
    SendMessageA(hwnd_, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(Ref(control_.BackColor())));
    SendMessageA(hwnd_, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(Ref(control_.ForeColor())));
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void ControlPeerW::ApplyToolTip() {
  if (owner_.tooltip == nullptr) return;
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = owner_.top;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  std::string text = control_.ToolTip();
  tool.lpszText = text.data();
  if (tooltip_added_) {
    SendMessageA(owner_.tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    tooltip_added_ = false;
  }
  if (!text.empty())
    tooltip_added_ = SendMessageA(owner_.tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)) != 0;
}

void ControlPeerW::ApplyPictures() {
  switch (control_.Kind()) {
    case ControlKind::Button: {
      auto& b = static_cast<Button&>(control_);
      normal_ = ScaledForDpi(BitmapOf(b.Picture(), impl_.wic), owner_.dpi);
      disabled_ = ScaledForDpi(BitmapOf(b.DisabledPicture(), impl_.wic), owner_.dpi);
      down_ = ScaledForDpi(BitmapOf(b.DownPicture(), impl_.wic), owner_.dpi);
      InvalidateRect(hwnd_, nullptr, FALSE);
      break;
    }
    case ControlKind::Image:
    case ControlKind::PictureBox: {
      const PicturePtr& p = control_.Kind() == ControlKind::Image ? static_cast<Image&>(control_).Picture()
                                                                   : static_cast<PictureBox&>(control_).Picture();
      BitmapPtr next = ScaledForDpi(BitmapOf(p, impl_.wic), owner_.dpi);
      // The same decoded pixels again (a file reread with the same bytes): nothing to redraw.
      if (next == shown_) break;
      shown_ = std::move(next);
      InvalidateRect(hwnd_, nullptr, FALSE);
      break;
    }
    default:
      break;
  }
}

void ControlPeerW::ApplyListOptions() {
  if (control_.Kind() != ControlKind::ListView) return;
  auto& list = static_cast<ListView&>(control_);
  LONG_PTR style = GetWindowLongPtrA(hwnd_, GWL_STYLE);
  LONG_PTR next = style & ~static_cast<LONG_PTR>(LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER | LVS_EDITLABELS);
  if (!list.HideSelection()) next |= LVS_SHOWSELALWAYS;
  if (!list.ReportView() || list.HideColumnHeaders()) next |= LVS_NOCOLUMNHEADER;
  if (next != style) SetWindowLongPtrA(hwnd_, GWL_STYLE, next);
  const DWORD ex = LVS_EX_FULLROWSELECT;
  SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, ex, list.FullRowSelect() ? ex : 0);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void ControlPeerW::ApplyColumns() {
  if (control_.Kind() != ControlKind::ListView) return;
  const auto& columns = static_cast<ListView&>(control_).Columns();
  while (columns_ > static_cast<int>(columns.size())) SendMessageA(hwnd_, LVM_DELETECOLUMN, --columns_, 0);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = owner_.ToPixels(columns[i].width);
    std::string text = columns[i].text;
    column.pszText = text.data();
    const auto index = static_cast<WPARAM>(i);
    if (static_cast<int>(i) < columns_) {
      SendMessageA(hwnd_, LVM_SETCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
    } else {
      SendMessageA(hwnd_, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
      ++columns_;
    }
  }
}

void ControlPeerW::ApplyItems() {
  if (control_.Kind() != ControlKind::ListView) return;
  // The rows stay in the model; the control asks for the texts it draws.
  SendMessageA(hwnd_, LVM_SETITEMCOUNT, static_cast<ListView&>(control_).Count(), LVSICF_NOSCROLL);
  InvalidateRect(hwnd_, nullptr, TRUE);
  ApplySelection();
}

void ControlPeerW::ApplySelection() {
  if (control_.Kind() != ControlKind::ListView) return;
  const long selected = static_cast<ListView&>(control_).SelectedIndex();
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = 0;
  SendMessageA(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
  if (selected >= 0) {
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
    SendMessageA(hwnd_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
  }
}

void ControlPeerW::OnCommand(int code) {
  if (detached_ || applying_ || impl_.fatal) return;
  switch (control_.Kind()) {
    case ControlKind::Button:
      // An owner-drawn button reports a quick second click as a double click.
      if (code == BN_CLICKED || code == BN_DOUBLECLICKED) static_cast<Button&>(control_).FireClick();
      break;
    case ControlKind::CheckBox:
      if (code == BN_CLICKED || code == BN_DOUBLECLICKED) {
        auto& check = static_cast<CheckBox&>(control_);
        check.FireClick();
        if (!detached_) Update(Property::Value);  // the model decides, not the control
      }
      break;
    case ControlKind::TextBox:
      if (code == EN_CHANGE) {
        std::string text(static_cast<std::size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
        text.resize(static_cast<std::size_t>(GetWindowTextA(hwnd_, text.data(), static_cast<int>(text.size()))));
        static_cast<TextBox&>(control_).UserEdited(std::move(text));
      }
      break;
    default:
      break;
  }
}

void DisplayTexts::Give(LVITEMW& item, const std::string& utf8) {
  std::wstring& text = texts_[next_];
  next_ = (next_ + 1) % std::size(texts_);
  const int size = static_cast<int>(utf8.size());
  text.assign(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), static_cast<int>(text.size()));
  item.pszText = text.data();
}

LRESULT ControlPeerW::OnNotify(NMHDR* header) {
  if (detached_ || control_.Kind() != ControlKind::ListView) return 0;
  auto& list = static_cast<ListView&>(control_);
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
      if ((item.mask & LVIF_TEXT) == 0) break;
      const auto row = static_cast<std::size_t>(item.iItem);
      static const std::string kNone;
      const std::string* text = &kNone;
      if (item.iItem >= 0 && row < list.Count()) {
        const ListItem& li = list.Items()[row];
        text = item.iSubItem == 0 ? &li.text : item.iSubItem == 1 ? &li.sub1 : item.iSubItem == 2 ? &li.sub2 : &kNone;
      }
      texts_.Give(item, *text);
      break;
    }
    case LVN_ITEMCHANGED: {
      if (applying_) break;
      auto* change = reinterpret_cast<NMLISTVIEW*>(header);
      // A row that becomes selected is the selected row; a click beside the
      // rows leaves the last one selected, as the list of the model keeps it.
      if ((change->uChanged & LVIF_STATE) != 0 && (change->uNewState & LVIS_SELECTED) != 0 &&
          (change->uOldState & LVIS_SELECTED) == 0 && change->iItem >= 0)
        list.UserSelected(change->iItem);
      break;
    }
    default:
      break;
  }
  return 0;
}

void ControlPeerW::OnHeaderChanged() {
  if (detached_ || applying_ || control_.Kind() != ControlKind::ListView) return;
  auto& list = static_cast<ListView&>(control_);
  for (std::size_t i = 0; i < list.Columns().size() && static_cast<int>(i) < columns_; ++i) {
    const int px = static_cast<int>(SendMessageA(hwnd_, LVM_GETCOLUMNWIDTH, i, 0));
    if (px != owner_.ToPixels(list.Columns()[i].width)) list.UserResizedColumn(i, owner_.ToTwips(px));
  }
}

// A button in graphical style: a face in its background colour showing the
// picture of its state (normal, disabled or pressed) and its caption.
void ControlPeerW::OnDrawItem(const DRAWITEMSTRUCT& item) {
  if (detached_ || control_.Kind() != ControlKind::Button) return;
  auto& button = static_cast<Button&>(control_);
  HDC dc = item.hDC;
  const RECT r = item.rcItem;
  const bool down = (item.itemState & ODS_SELECTED) != 0;
  const bool enabled = button.EffectivelyEnabled() && (item.itemState & ODS_DISABLED) == 0;
  FillRect(dc, &r, brush_ != nullptr ? brush_ : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const Bitmap* picture = nullptr;
  if (button.Graphical()) {
    if (!enabled && disabled_)
      picture = disabled_.get();
    else if (down && down_)
      picture = down_.get();
    else if (normal_)
      picture = normal_.get();
  }
  // Without a picture of its own for the pressed state the face moves by a
  // pixel, as a pressed button does.
  const int shift = down && (picture == nullptr || picture != down_.get()) ? 1 : 0;
  if (picture != nullptr) {
    DrawBitmap(dc, *picture, (r.right - r.left - picture->width) / 2 + shift,
               (r.bottom - r.top - picture->height) / 2 + shift);
  } else {
    RECT edge = r;
    DrawEdge(dc, &edge, down ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
  }
  if (!button.Caption().empty()) {
    HGDIOBJ old = SelectObject(dc, font_);
    RECT text = r;
    OffsetRect(&text, shift, shift);
    DrawCaption(dc, button.Caption(), text, DT_CENTER | DT_VCENTER | DT_SINGLELINE, enabled,
                Ref(button.ForeColor()));
    SelectObject(dc, old);
  }
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = r;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
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
    case Property::Caption:
      SetWindowTextA(owner_.top, window.Caption().c_str());
      break;
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
    default:
      break;
  }
}

// --- Window procedures ---------------------------------------------------------

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
      FillRect(reinterpret_cast<HDC>(wp), &r, brush != nullptr ? brush : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
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
    case WM_CLOSE:
      return 0;  // no close box: only the program's own buttons close a window
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
          for (Property p : {Property::Font, Property::Geometry, Property::Columns, Property::Pictures}) peer->Update(p);
        return 0;
      }
      break;
    case kDestroyLater:
      impl->Destroy(hwnd);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// Image and picture box: the picture (scaled for the dpi) from the top-left corner,
// clipped to the control; a picture box over its own background, an image
// over its container's. An image lets the mouse through to what lies below.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Win32Platform::Impl* impl = g_impl;
  ControlPeerW* peer = impl != nullptr ? impl->FindPeer(hwnd) : nullptr;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT r;
      GetClientRect(hwnd, &r);
      if (peer != nullptr && !peer->Detached()) {
        const Control& c = peer->Model();
        const Bitmap* bitmap = peer->ShownBitmap();
        const bool covered = bitmap != nullptr && !bitmap->alpha && bitmap->width >= r.right && bitmap->height >= r.bottom;
        if (!covered) {
          HBRUSH brush = CreateSolidBrush(Ref(c.Kind() == ControlKind::PictureBox ? c.BackColor() : ContainerBack(c)));
          FillRect(dc, &r, brush);
          DeleteObject(brush);
        }
        if (bitmap != nullptr) DrawBitmap(dc, *bitmap, 0, 0);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_NCHITTEST:
      if (peer != nullptr && !peer->Detached() && peer->Model().Kind() == ControlKind::Image) return HTTRANSPARENT;
      break;
    case WM_SETCURSOR:
      if (impl != nullptr && PointerBusy(impl->pointer)) {
        SetCursor(PointerCursor(impl->pointer));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

// The list's own header reports the user's dragging of column borders to the
// list, not to the list's parent: the list is subclassed to hear it.
LRESULT CALLBACK ListSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  LRESULT result = DefSubclassProc(hwnd, msg, wp, lp);
  if (msg == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lp);
    switch (header->code) {
      case HDN_ENDTRACKA:
      case HDN_ENDTRACKW:
      case HDN_ITEMCHANGEDA:
      case HDN_ITEMCHANGEDW:
      case HDN_DIVIDERDBLCLICKA:
      case HDN_DIVIDERDBLCLICKW:
        reinterpret_cast<ControlPeerW*>(data)->OnHeaderChanged();
        break;
      default:
        break;
    }
  }
  return result;
}

}  // namespace zandrel::ui::win32
