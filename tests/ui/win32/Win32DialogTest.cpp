// Real windows: where they open, what their labels and lists do, and the
// boxes over them, which hold every window of the program, not only their
// owner, and give them back when they close. Real windows need a display:
// under Wine the ctest entry win32ui.OnADisplay runs these on a virtual one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ui/win32/Win32Internal.h"

#include <dlgs.h>

namespace zandrel::ui::win32 {
namespace {

// This thread's top-level windows of a class: the program's, or "#32770" for dialogs.
std::vector<HWND> WindowsOf(const char* window_class) {
  struct Search {
    std::string window_class;
    std::vector<HWND> found;
  } search{window_class, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM data) {
        auto* search = reinterpret_cast<Search*>(data);
        char name[64] = "";
        GetClassNameA(hwnd, name, sizeof name);
        if (name == search->window_class) search->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// What a box showed while it waited, looked at by a timer that then closes it.
struct WhileShown {
  std::vector<bool> enabled;  // the program's windows
  HWND owner = nullptr;
  bool readOnlyBox = false;  // the file dialog's "read only" box is visible
};
WhileShown seen;

void LookAndClose(HWND, UINT, UINT_PTR id, DWORD) {
  const std::vector<HWND> dialogs = WindowsOf("#32770");
  if (dialogs.empty()) return;
  KillTimer(nullptr, id);
  for (HWND top : WindowsOf(kWindowClass)) seen.enabled.push_back(IsWindowEnabled(top) != FALSE);
  seen.owner = GetWindow(dialogs.front(), GW_OWNER);
  HWND read_only = GetDlgItem(dialogs.front(), chx1);
  seen.readOnlyBox = read_only != nullptr && IsWindowVisible(read_only);
  PostMessageA(dialogs.front(), WM_COMMAND, IDCANCEL, 0);
}

TEST(Win32OnDisplay, BoxesBelongToTheActiveWindowAndHoldEveryWindowOfTheProgram) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display: run by win32ui.OnADisplay";
  Win32Platform platform;
  Window manager(platform, "manager"), confirmation(platform, "confirmation");
  for (Window* window : {&manager, &confirmation}) {
    window->SetClientSize(3000, 2000);
    window->Show();
  }
  const std::vector<HWND> windows = WindowsOf(kWindowClass);
  ASSERT_EQ(windows.size(), 2u);
  const std::function<void()> boxes[] = {
      [&manager] { CommonDialog(manager).ShowOpen(); },
      [&platform] { platform.MsgBox("Просмотр завершен.", MB_OK); },
  };
  for (const auto& box : boxes) {
    SetActiveWindow(windows[0]);
    seen = {};
    SetTimer(nullptr, 0, 100, LookAndClose);
    box();
    EXPECT_EQ(seen.enabled, (std::vector<bool>{false, false}));
    EXPECT_EQ(seen.owner, windows[0]) << "the active window owns the box";
    EXPECT_FALSE(seen.readOnlyBox) << "the program reads the file only: no \"read only\" box";
    for (HWND top : windows) EXPECT_TRUE(IsWindowEnabled(top));
  }
}

// A screen of its own: the work area of a 1366x768 laptop at 150 %, less
// its taskbar, placed right of a first monitor.
Win32Platform::ScreenArea Laptop() { return {1920, 0, 1920 + 1366, 728, 144}; }

TEST(Win32OnDisplay, AWindowOpensInsideTheWorkAreaAndSmallerWhenItIsTaller) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display: run by win32ui.OnADisplay";
  const struct {
    float width, height;  // client area, twips
    bool scaled;
  } rows[] = {
      {16830, 12465, true},  // the splash: 1122x831 pixels at 96 dpi, 1247 high at 144
      {8535, 7245, true},    // the manager: 725 high at 144, and its title bar
      {4740, 6870, false},   // the About box
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.height);
    Win32Platform platform;
    platform.SetScreenArea(Laptop);
    Window window(platform, "window");
    window.SetCaption("Orvanta");
    window.SetClientSize(row.width, row.height);
    // A control as tall as the window shows the scale the window opened at.
    Label filling(window, nullptr, "lbl");
    filling.Move(0, 0, row.width, row.height);
    window.Show();
    const std::vector<HWND> windows = WindowsOf(kWindowClass);
    ASSERT_EQ(windows.size(), 1u);
    RECT frame{};
    GetWindowRect(windows[0], &frame);
    const Win32Platform::ScreenArea area = Laptop();
    EXPECT_GE(frame.left, area.left);
    EXPECT_GE(frame.top, area.top);
    EXPECT_LE(frame.right, area.right);
    EXPECT_LE(frame.bottom, area.bottom);
    // Centred, to a pixel.
    EXPECT_LE(std::abs((frame.left - area.left) - (area.right - frame.right)), 1);
    EXPECT_LE(std::abs((frame.top - area.top) - (area.bottom - frame.bottom)), 1);
    RECT label{};
    GetClientRect(static_cast<ControlPeerW*>(filling.Peer())->Handle(), &label);
    const int full_height = static_cast<int>(row.height / 15 * 1.5f + 0.5f);
    if (row.scaled) {
      EXPECT_LT(label.bottom, full_height);
      // As large as fits, within a few steps of a dpi (and Wine's title bar,
      // which keeps the monitor's real dpi).
      EXPECT_GE(frame.bottom - frame.top, (area.bottom - area.top) * 95 / 100);
    } else {
      EXPECT_EQ(label.bottom, full_height) << "at the monitor's dpi";
    }
    window.Close();
  }
}

TEST(Win32OnDisplay, ACaptionStaysInsideItsLabel) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display: run by win32ui.OnADisplay";
  std::string paragraph;
  while (paragraph.size() < 1400) paragraph += "Перед вами программа для облегчен- ной ассоциации файлов. ";
  Win32Platform platform;
  platform.SetScreenArea(Laptop);
  Window window(platform, "window");
  window.SetClientSize(4740, 6870);
  Label label(window, nullptr, "lblInfo");
  label.Move(120, 240, 4455, 5175);
  label.SetFont(Font{"MS Sans Serif", 9.75f, true, 204});
  label.SetCaption(paragraph);
  window.Show();
  auto* peer = static_cast<ControlPeerW*>(label.Peer());
  ASSERT_NE(peer, nullptr);
  RECT box{};
  GetClientRect(peer->Handle(), &box);
  std::wstring text(paragraph.size(), L'\0');
  text.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, paragraph.data(),
                                                           static_cast<int>(paragraph.size()), text.data(),
                                                           static_cast<int>(text.size()))));
  HDC dc = GetDC(peer->Handle());
  HGDIOBJ old = SelectObject(dc, peer->CurrentFont());
  RECT need = box;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
            DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(peer->Handle(), dc);
  EXPECT_LE(need.bottom, box.bottom) << "the caption runs past its label";
  EXPECT_GT(need.bottom, box.bottom * 3 / 4) << "no smaller than it needs to be";
  window.Close();
}

TEST(Win32OnDisplay, TheListTakesTypingHeaderClicksDoubleClicksAndDrawsDimmedRowsGreyAndALockedBoxIsReadOnly) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display: run by win32ui.OnADisplay";
  Win32Platform platform;
  Window window(platform, "window");
  window.SetClientSize(6000, 4000);
  ListView list(window, nullptr, "lvwAsso");
  list.Move(0, 0, 6000, 4000);
  list.SetReportView(true);
  list.SetHideColumnHeaders(false);
  list.SetFullRowSelect(true);
  for (const char* column : {"Расширение", "Описание", "Ассоциация", "Путь"}) list.AddColumn(column, 1800);
  list.SetItems({{".bat", {"batfile", "c", "C:\\bat.exe"}},
                 {".txt", {"txtfile", "a"}},
                 {".zip", {"CompressedFolder", "b"}, true}});
  TextBox field(window, nullptr, "txtFileExt");
  field.SetLocked(true);
  window.Show();
  HWND edit = static_cast<ControlPeerW*>(field.Peer())->Handle();
  EXPECT_NE(GetWindowLongA(edit, GWL_STYLE) & ES_READONLY, 0) << "a locked box is read-only";
  HWND view = static_cast<ControlPeerW*>(list.Peer())->Handle();
  auto cell = [view](int row, int column) {
    wchar_t buffer[32] = L"unchanged";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 32;
    SendMessageW(view, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return std::wstring(item.pszText);
  };
  EXPECT_EQ(cell(0, 3), L"C:\\bat.exe") << "the fourth column shows the rows' fourth texts";
  EXPECT_EQ(cell(1, 3), L"") << "a row without the column's text";
  SetFocus(view);
  for (wchar_t key : std::wstring(L".tx")) SendMessageW(view, WM_CHAR, key, 1);
  EXPECT_EQ(list.SelectedIndex(), 1) << "typing \".tx\" selects .txt";
  // A click on the third header (its items are 1800 twips wide).
  HWND header = reinterpret_cast<HWND>(SendMessageA(view, LVM_GETHEADER, 0, 0));
  RECT item{};
  SendMessageA(header, HDM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&item));
  const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(header, WM_LBUTTONUP, 0, at);
  EXPECT_EQ(list.SortColumn(), 2) << "the order itself: ControlsTest";
  EXPECT_EQ(cell(0, 0), L".txt") << "the control shows the model's order";
  HDITEMA format{};
  format.mask = HDI_FORMAT;
  SendMessageA(header, HDM_GETITEMA, 2, reinterpret_cast<LPARAM>(&format));
  EXPECT_NE(format.fmt & HDF_SORTUP, 0) << "the header shows the order";
  // The control asks its parent how to draw each row (NM_CUSTOMDRAW): the
  // dimmed .zip, second now, in COLOR_GRAYTEXT, the others in the list's own.
  const COLORREF untouched = RGB(1, 2, 3);
  const struct {
    DWORD stage;
    DWORD_PTR row;
    LRESULT result;
    COLORREF text;
  } cases[] = {{CDDS_PREPAINT, 0, CDRF_NOTIFYITEMDRAW, untouched},
               {CDDS_ITEMPREPAINT, 0, CDRF_DODEFAULT, untouched},
               {CDDS_ITEMPREPAINT, 1, CDRF_NEWFONT, GetSysColor(COLOR_GRAYTEXT)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.row);
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.hdr = {view, static_cast<UINT_PTR>(GetDlgCtrlID(view)), static_cast<UINT>(NM_CUSTOMDRAW)};
    draw.nmcd.dwDrawStage = c.stage;
    draw.nmcd.dwItemSpec = c.row;
    draw.clrText = untouched;
    EXPECT_EQ(SendMessageA(GetParent(view), WM_NOTIFY, draw.nmcd.hdr.idFrom, reinterpret_cast<LPARAM>(&draw)),
              c.result);
    EXPECT_EQ(draw.clrText, c.text);
  }
  // A double click on a row reaches the model; one beside the rows does not.
  int doubleClicks = 0;
  list.DblClick = [&doubleClicks] { ++doubleClicks; };
  RECT row{LVIR_BOUNDS, 0, 0, 0};
  SendMessageA(view, LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&row));
  for (const int y : {(row.top + row.bottom) / 2, row.bottom + 200})
    SendMessageA(view, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(row.left + 20, y));
  EXPECT_EQ(doubleClicks, 1);
  window.Close();
}

}  // namespace
}  // namespace zandrel::ui::win32
