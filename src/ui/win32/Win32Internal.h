// Internal to the Win32 realisation: the peers that keep a control's window
// in step with its model, the realisation of one window, and the platform's
// shared state.
//   Win32ControlPeer.cpp  a control's peer; Win32WindowPeers.cpp the window's
//                         and its timers' peers
//   Win32WindowProcs.cpp  the window procedures, which pass messages to peers
//   Win32Painting.cpp     what the realisation draws itself
//   Win32Pictures.cpp     decoding, scaling and drawing pictures
//   Win32Realize.cpp      putting a window on screen and taking it down
//   Win32Platform.cpp     the platform's state and services
//   Win32SystemDlls.cpp   the functions of winmm and comctl32, from System32
//
// <windows.h> defines as macros names that the controls model declares as
// constants (MB_OK, IDOK, SND_ASYNC, OFN_FILEMUSTEXIST, ...). The model's
// headers are therefore included first, and the files of this library never
// name those constants: the Windows macros of the same value stand in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ui/Controls.h"
#include "ui/PictureCache.h"
#include "ui/PropertyPeer.h"
#include "ui/Platform.h"
#include "ui/Window.h"
#include "ui/win32/Win32Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef WINVER
#define WINVER 0x0A00
#endif
#include <windows.h>
#include <commctrl.h>

struct IWICImagingFactory;

namespace zandrel::ui::win32 {

inline COLORREF Ref(Color c) { return RGB(c.r, c.g, c.b); }

// winmm and comctl32 are not among Windows' KnownDLLs (see
// tests/shell/KnownDllsTest.sh): named in the import table, they would be
// looked for first in the program's own folder, and a copy planted beside
// the program, run elevated from Downloads say, would run as administrator.
// Their few functions come from here instead, out of the copy in System32
// (LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32; comctl32 version 6 still
// comes through the manifest, as side-by-side redirection applies before any
// search), each looked up on first use. When one cannot be found the call
// fails as the function itself fails (FALSE). The programs call no other
// function of a DLL outside the KnownDLLs: gdi32's GdiAlphaBlend stands in
// for msimg32's AlphaBlend.
namespace system32 {
BOOL sndPlaySoundA(LPCSTR sound, UINT flags);
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
BOOL SetWindowSubclass(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data);
LRESULT DefSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
}  // namespace system32

// A decoded picture as a top-down 32-bit DIB section in premultiplied BGRA.
struct Bitmap {
  HBITMAP handle = nullptr;
  std::uint8_t* bits = nullptr;  // the DIB section's pixels, rows of width * 4 bytes
  int width = 0;
  int height = 0;
  bool alpha = false;  // some pixel is not opaque: draw with GdiAlphaBlend
  // Copies scaled for a monitor's dpi (ScaledForDpi), made once per dpi.
  mutable std::vector<std::pair<UINT, std::shared_ptr<const Bitmap>>> scaled;
  Bitmap() = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  ~Bitmap();
};
using BitmapPtr = std::shared_ptr<const Bitmap>;

// The decoded form that hangs on a picture loaded by this platform; null for
// a picture from elsewhere, which is then decoded on first use.
BitmapPtr BitmapOf(const PicturePtr& picture, IWICImagingFactory* factory);
// Decodes and checks the whole file; throws 481 when it is no complete
// picture of the size its header gives.
BitmapPtr DecodeBitmap(const Picture& picture, IWICImagingFactory* factory);
// The bitmap as it shows on a monitor of `dpi`: its pixels are 96-dpi pixels
// (the model sizes pictures at 15 twips a pixel, and controls grow with the
// dpi), so at 144 dpi it is 1.5 times as wide and high, smoothly (bilinear,
// over premultiplied pixels). At 96 dpi the bitmap itself; each other size
// is made once and kept with the bitmap.
std::shared_ptr<const Bitmap> ScaledForDpi(const std::shared_ptr<const Bitmap>& bitmap, UINT dpi);
// Draws the bitmap unscaled with its top-left corner at (x, y).
void DrawBitmap(HDC dc, const Bitmap& bitmap, int x, int y);

// The bytes of the bitmap's pixels.
inline std::size_t PixelBytes(const Bitmap& bitmap) {
  return std::size_t(bitmap.width) * std::size_t(bitmap.height) * 4;
}

// The texts a list gives its control when asked (LVN_GETDISPINFOW): the
// control gets the address of a whole UTF-16 copy rather than a copy into its
// own buffer, which would cut long commands and descriptions at cchTextMax.
// Each copy stays valid for the two requests that follow, as the control
// requires.
class DisplayTexts {
 public:
  void Give(LVITEMW& item, const std::string& utf8);

 private:
  std::wstring texts_[3];
  std::size_t next_ = 0;
};

// A list's custom drawing (NM_CUSTOMDRAW from a list of `rows`): asks to
// hear of each row, and gives a dimmed row's text COLOR_GRAYTEXT. Returns
// what the control is to do next (CDRF_*).
LRESULT DrawListRow(NMLVCUSTOMDRAW& draw, const std::vector<ListItem>& rows);

struct Realisation;

class ControlPeerW : public PropertyPeer {
 public:
  ControlPeerW(Win32Platform::Impl& impl, Realisation& owner, Control& control, HWND hwnd);
  ~ControlPeerW() override;
  void ApplyAll();
  void Detach() { detached_ = true; }
  bool Detached() const { return detached_; }

  HWND Handle() const { return hwnd_; }
  Realisation& Owner() const { return owner_; }
  HBRUSH BackBrush() const { return brush_; }
  HFONT CurrentFont() const { return font_; }

  // Messages the parent receives on the control's behalf.
  void OnCommand(int code);
  LRESULT OnNotify(NMHDR* header);
  void OnDrawItem(const DRAWITEMSTRUCT& item);
  void OnHeaderChanged();
  // The picture an image or picture box shows now.
  const Bitmap* ShownBitmap() const { return shown_.get(); }

 private:
  bool Showing() const override { return !detached_; }
  ZANDREL_PROPERTY_PEER_OVERRIDES
  // List views: the header's arrow on the column the rows are sorted by.
  void ShowSortArrow();
  // Labels: a font small enough for the caption to fit at this dpi.
  void FitLabelFont();

  Win32Platform::Impl& impl_;
  Realisation& owner_;
  HWND hwnd_;
  HBRUSH brush_ = nullptr;
  HFONT font_ = nullptr;
  BitmapPtr shown_;                     // images and picture boxes
  BitmapPtr normal_, disabled_, down_;  // buttons
  int columns_ = 0;                     // list views: columns inserted in the control
  DisplayTexts texts_;                  // list views: the texts the control shows
  bool tooltip_added_ = false;
  bool detached_ = false;
};

class TimerPeerW : public ControlPeer {
 public:
  TimerPeerW(Win32Platform::Impl& impl, Realisation& owner, Timer& timer, UINT_PTR id);
  void Update(Property what) override;
  void Stop();
  void Detach() {
    Stop();
    detached_ = true;
  }
  void Tick();

 private:
  Win32Platform::Impl& impl_;
  Realisation& owner_;
  Timer& timer_;
  UINT_PTR id_;
  bool running_ = false;
  bool detached_ = false;
};

class WindowPeerW : public ControlPeer {
 public:
  WindowPeerW(Realisation& owner) : owner_(owner) {}
  void Update(Property what) override;
  void Detach() { detached_ = true; }

 private:
  Realisation& owner_;
  bool detached_ = false;
};

struct Realisation {
  Window* window = nullptr;  // null once the window is taken down
  HWND top = nullptr;
  HWND tooltip = nullptr;
  UINT dpi = 96;
  DWORD style = 0;
  DWORD exStyle = 0;
  HBRUSH back = nullptr;
  HICON icon = nullptr;
  std::unique_ptr<WindowPeerW> peer;
  std::vector<std::unique_ptr<ControlPeerW>> controls;  // registration order
  std::vector<std::unique_ptr<TimerPeerW>> timers;      // timer id = index + 1

  int ToPixels(float twips) const;
  float ToTwips(int pixels) const;
  ~Realisation();
};

// Window classes and messages of the realisation.
inline constexpr char kWindowClass[] = "ZandrelWindow";
inline constexpr char kFrameClass[] = "ZandrelFrame";
inline constexpr char kPictureClass[] = "ZandrelPicture";
// Posted to a closed window: destroys it once the handler that closed it
// (perhaps one of its own buttons) has returned.
inline constexpr UINT kDestroyLater = WM_APP + 1;

// The work area and dpi of the monitor the program was started on.
Win32Platform::ScreenArea StartScreenArea();

// The cursor for the application-wide pointer: the hourglass (11), the arrow
// with an hourglass (13), else the arrow.
HCURSOR PointerCursor(int pointer);
// Whether the pointer overrides the cursors of the program's windows.
inline bool PointerBusy(int pointer) { return pointer == kPointerHourglass || pointer == 13; }

// The window procedures serve the windows of the platform whose control peer
// was made last.
void ServeWindowsOf(Win32Platform::Impl& impl);
LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK ListSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);

// WM_PAINT of a frame and of an image or picture box; the peer may be null
// or detached.
void PaintFrame(HWND hwnd, const ControlPeerW* peer);
void PaintPicture(HWND hwnd, const ControlPeerW* peer);

struct Win32Platform::Impl {
  HINSTANCE instance = nullptr;
  IWICImagingFactory* wic = nullptr;
  bool comInitialised = false;
  std::map<const Window*, std::unique_ptr<win32::Realisation>> windows;
  // Closed windows whose handles wait for kDestroyLater.
  std::map<HWND, std::unique_ptr<win32::Realisation>> closing;
  std::map<HWND, win32::ControlPeerW*> peerOf;
  std::map<HWND, win32::Realisation*> realisationOf;  // top-level handles
  std::map<std::tuple<std::string, int, bool, int, UINT>, HFONT> fonts;
  PictureCache<win32::Bitmap> pictures{win32::PixelBytes};
  std::vector<std::string> opened;
  std::function<Win32Platform::ScreenArea()> screen;  // where windows open
  int pointer = 0;
  HWND lastFocus = nullptr;
  bool syncingFocus = false;
  bool fatal = false;
  bool quitRequested = false;
  bool inLoop = false;

  HFONT FontFor(const Font& font, UINT dpi);
  win32::ControlPeerW* FindPeer(HWND hwnd) const;
  win32::Realisation* FindRealisation(HWND hwnd) const;
  // Model focus -> Win32, without echoing back.
  void FocusHandle(HWND hwnd);
  // Win32 focus -> model, after a message has been handled.
  void SyncFocus();
  // Keys the controls model handles itself (Tab, Enter, Space); true when taken.
  bool TranslateKey(const MSG& msg);
  void Pump(MSG& msg);
  void Destroy(HWND top);
};

// The list's context menu: asked for by a right click on the list, the menu
// key or Shift+F10; shown where it was asked for, its choice passed on.
bool ListMenuRequested(const MSG& msg);
bool ShowListMenu(const MSG& msg, ListView& list);

}  // namespace zandrel::ui::win32
