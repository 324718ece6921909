// What the realisation paints itself: the frame drawn as a group box, the
// graphical button's face and the image and picture box; and the colour of a
// list's dimmed rows, which the list control draws.
#include "ui/win32/Win32Internal.h"

#include <algorithm>

namespace zandrel::ui::win32 {

namespace {

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

}  // namespace

// A frame drawn as a group box: its background throughout, an etched line
// whose top edge runs through the middle of the caption, the caption at the
// left interrupting it.
void PaintFrame(HWND hwnd, const ControlPeerW* peer) {
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
    if (!enabled && disabled_) picture = disabled_.get();
    else if (down && down_) picture = down_.get();
    else if (normal_) picture = normal_.get();
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
    DrawCaption(dc, button.Caption(), text, DT_CENTER | DT_VCENTER | DT_SINGLELINE, enabled, Ref(button.ForeColor()));
    SelectObject(dc, old);
  }
  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focus = r;
    InflateRect(&focus, -3, -3);
    DrawFocusRect(dc, &focus);
  }
}

// Image and picture box: the picture (scaled for the dpi) from the top-left
// corner, clipped to the control; a picture box over its own background, an
// image over its container's.
void PaintPicture(HWND hwnd, const ControlPeerW* peer) {
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
}

LRESULT DrawListRow(NMLVCUSTOMDRAW& draw, const std::vector<ListItem>& rows) {
  switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT: return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      const std::size_t row = draw.nmcd.dwItemSpec;
      if (row >= rows.size() || !rows[row].dimmed) return CDRF_DODEFAULT;
      draw.clrText = GetSysColor(COLOR_GRAYTEXT);
      return CDRF_NEWFONT;  // the control takes the colour given
    }
    default: return CDRF_DODEFAULT;
  }
}

}  // namespace zandrel::ui::win32
