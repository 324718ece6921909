// The peer of a control: keeps its child window in step with the model and
// reports the user's actions back (the button's face is painted in
// Win32Painting.cpp).
#include "ui/win32/Win32Internal.h"

namespace zandrel::ui::win32 {

ControlPeerW::ControlPeerW(Win32Platform::Impl& impl, Realisation& owner, Control& control, HWND hwnd)
    : PropertyPeer(control), impl_(impl), owner_(owner), hwnd_(hwnd) {
  ServeWindowsOf(impl);
}

ControlPeerW::~ControlPeerW() {
  if (brush_ != nullptr) DeleteObject(brush_);
}

void ControlPeerW::ApplyAll() {
  for (Property p : {Property::Font, Property::Colors, Property::ToolTip, Property::Caption, Property::Value,
                     Property::Locked, Property::Pictures, Property::ListOptions, Property::Columns, Property::Items,
                     Property::Geometry, Property::Enabled, Property::Visible})
    Update(p);
}

void ControlPeerW::ApplyVisible(bool visible) { ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE); }

void ControlPeerW::ApplyEnabled(bool enabled) {
  EnableWindow(hwnd_, enabled ? TRUE : FALSE);
  // Children of a frame draw by their effective state.
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void ControlPeerW::ApplyGeometry(const Rect& r) {
  SetWindowPos(hwnd_, nullptr, owner_.ToPixels(r.left), owner_.ToPixels(r.top), owner_.ToPixels(r.width),
               owner_.ToPixels(r.height), SWP_NOZORDER | SWP_NOACTIVATE);
  FitLabelFont();
}

// Fonts do not grow exactly with the dpi (hinting widens glyphs at some
// sizes), so a caption that fills its label at 96 dpi may run past it at
// 144. Such a caption is drawn a quarter point smaller at a time until it
// fits, as the static control breaks it (at words, and inside a word wider
// than the label), down to kSmallestPoints at most.
void ControlPeerW::FitLabelFont() {
  constexpr float kSmallestPoints = 6.0f;
  if (control_.Kind() != ControlKind::Label || font_ == nullptr) return;
  const std::string& caption = static_cast<Label&>(control_).Caption();
  const Rect& r = control_.Geometry();
  const RECT box{0, 0, owner_.ToPixels(r.width), owner_.ToPixels(r.height)};
  if (caption.empty() || box.right <= 0 || box.bottom <= 0) return;
  const int units = static_cast<int>(caption.size());
  const int wide = MultiByteToWideChar(CP_UTF8, 0, caption.data(), units, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, caption.data(), units, text.data(), static_cast<int>(text.size()));
  Font font = control_.GetFont();
  HFONT chosen = impl_.FontFor(font, owner_.dpi);
  HDC dc = GetDC(hwnd_);
  HGDIOBJ old = SelectObject(dc, chosen);
  while (true) {
    RECT need = box;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
              DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    if ((need.bottom <= box.bottom && need.right <= box.right) || font.size - 0.25f < kSmallestPoints) break;
    font.size -= 0.25f;
    chosen = impl_.FontFor(font, owner_.dpi);
    SelectObject(dc, chosen);
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  if (chosen == font_) return;
  font_ = chosen;
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
}

void ControlPeerW::ApplyText(const std::string& text) {
  std::string shown(static_cast<std::size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
  shown.resize(static_cast<std::size_t>(GetWindowTextA(hwnd_, shown.data(), static_cast<int>(shown.size()))));
  if (shown != text) SetWindowTextA(hwnd_, text.c_str());
  if (control_.Kind() == ControlKind::Frame) InvalidateRect(hwnd_, nullptr, TRUE);
  FitLabelFont();
}

void ControlPeerW::ApplyLocked(bool locked) { SendMessageA(hwnd_, EM_SETREADONLY, locked ? TRUE : FALSE, 0); }

void ControlPeerW::ApplyChecked(bool checked) {
  SendMessageA(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void ControlPeerW::ApplyFont(const Font& font) {
  font_ = impl_.FontFor(font, owner_.dpi);
  SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  FitLabelFont();
}

void ControlPeerW::ApplyFocus() { impl_.FocusHandle(hwnd_); }

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

void ControlPeerW::ApplyToolTip(const std::string& tip) {
  if (owner_.tooltip == nullptr) return;
  TTTOOLINFOA tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = owner_.top;
  tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
  std::string text = tip;
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
    default: break;
  }
}

void ControlPeerW::ApplyListOptions() {
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
  ShowSortArrow();
}

void ControlPeerW::ShowSortArrow() {
  const auto& list = static_cast<ListView&>(control_);
  HWND header = reinterpret_cast<HWND>(SendMessageA(hwnd_, LVM_GETHEADER, 0, 0));
  if (header == nullptr) return;
  for (int i = 0; i < columns_; ++i) {
    HDITEMA item{};
    item.mask = HDI_FORMAT;
    if (!SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item))) continue;
    int fmt = item.fmt & ~(HDF_SORTUP | HDF_SORTDOWN);
    if (i == list.SortColumn()) fmt |= list.SortDescending() ? HDF_SORTDOWN : HDF_SORTUP;
    if (fmt == item.fmt) continue;
    item.fmt = fmt;
    SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
}

void ControlPeerW::ApplyItems() {
  // The rows stay in the model; the control asks for the texts it draws.
  SendMessageA(hwnd_, LVM_SETITEMCOUNT, static_cast<ListView&>(control_).Count(), LVSICF_NOSCROLL);
  InvalidateRect(hwnd_, nullptr, TRUE);
  ApplySelection();
}

void ControlPeerW::ApplySelection() {
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
    default: break;
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
      const bool shown = item.iItem >= 0 && row < list.Count() && item.iSubItem >= 0;
      texts_.Give(item, shown ? list.Items()[row].Cell(static_cast<std::size_t>(item.iSubItem)) : kNone);
      break;
    }
    case LVN_ODFINDITEMW:
    case LVN_ODFINDITEMA: {
      // The control gathers the keys typed in a quick run and asks for the
      // row; it selects what it is told. Any other search is not asked for.
      auto* find = reinterpret_cast<NMLVFINDITEMW*>(header);
      if ((find->lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) == 0 || find->lvfi.psz == nullptr) return -1;
      std::string typed;
      if (header->code == LVN_ODFINDITEMA) {
        typed = reinterpret_cast<NMLVFINDITEMA*>(header)->lvfi.psz;
      } else {
        const wchar_t* wide = find->lvfi.psz;
        const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
        if (bytes <= 1) return -1;
        typed.assign(static_cast<std::size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, typed.data(), bytes, nullptr, nullptr);
        typed.resize(static_cast<std::size_t>(bytes - 1));
      }
      return list.FindItem(typed, find->iStart);
    }
    case NM_CUSTOMDRAW: return DrawListRow(*reinterpret_cast<NMLVCUSTOMDRAW*>(header), list.Items());
    case NM_DBLCLK:
      // A double click beside the rows reports no row.
      if (!applying_ && !impl_.fatal && reinterpret_cast<NMITEMACTIVATE*>(header)->iItem >= 0) list.FireDblClick();
      break;
    case LVN_COLUMNCLICK:
      if (applying_) break;
      list.UserClickedColumn(static_cast<std::size_t>(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem));
      break;
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
    default: break;
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

}  // namespace zandrel::ui::win32
