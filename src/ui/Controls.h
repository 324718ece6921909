// The controls the windows are built from. Each control keeps its whole state
// here, in memory, so that window logic and tests read and write it without a
// window system. A realisation (Qt, or none for headless tests) attaches a peer
// that mirrors the state on screen and feeds user actions back through the
// Fire* calls, exactly as a test does.
//
// Lengths are twips (1/1440 inch, 15 to a pixel at 96 dpi), single precision,
// relative to the client area of the window or frame that holds the control.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zandrel::ui {

class Platform;
class Window;
class Frame;

struct Font {
  std::string name = "MS Sans Serif";
  float size = 8.25f;  // points
  bool bold = false;
  int charset = 0;  // 204 is Cyrillic
  bool operator==(const Font&) const = default;
};

struct Color {
  std::uint8_t r = 255, g = 255, b = 255;
  bool operator==(const Color&) const = default;
};
inline constexpr Color kWhite{255, 255, 255};
inline constexpr Color kBlack{0, 0, 0};

struct Rect {
  float left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// A loaded picture: the file's bytes with the format and size its content
// shows. A realisation may hang its decoded form on `native`.
struct Picture {
  std::string source;  // the path it was read from
  std::string format;  // "png", "jpeg", ...
  int widthPx = 0;
  int heightPx = 0;
  std::vector<std::uint8_t> bytes;
  mutable std::shared_ptr<void> native;
};
using PicturePtr = std::shared_ptr<const Picture>;

// A run-time error as the program's error object carries it: a number and a
// description. Thrown by platform services (a picture that cannot be loaded,
// a cancelled dialog); an uncaught one ends the program with a message.
struct RuntimeError {
  std::int32_t number = 0;
  std::string description;
};

// What changed, so that a peer need not redraw everything.
// clang-format off
enum class Property {
  Visible, Enabled, Geometry, Caption, Text, Value, Font, Colors, ToolTip, Pictures,
  Focus, Items, Selection, Columns, ListOptions, TabIndex, Interval, WindowState, Locked,
};
// clang-format on

class ControlPeer {
 public:
  virtual ~ControlPeer() = default;
  virtual void Update(Property what) = 0;
};

enum class ControlKind {
  Label,
  TextBox,
  CheckBox,
  Frame,
  Button,
  ListView,
  Image,
  PictureBox,
};

class Control {
 public:
  Control(Window& window, Frame* container, std::string name, ControlKind kind);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  ControlKind Kind() const { return kind_; }
  Window& Owner() const { return window_; }
  Frame* Container() const { return container_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  // Visible and enabled itself and in every container up to the window.
  bool EffectivelyVisible() const;
  bool EffectivelyEnabled() const;

  const Rect& Geometry() const { return rect_; }
  void Move(float left, float top, float width, float height);
  float Left() const { return rect_.left; }
  float Top() const { return rect_.top; }
  float Width() const { return rect_.width; }
  float Height() const { return rect_.height; }

  // -1: not in the tab order.
  int TabIndex() const { return tab_index_; }
  void SetTabIndex(int index);
  // Whether the kind can hold the keyboard focus at all.
  bool CanTakeFocus() const;
  void SetFocus();
  bool HasFocus() const;

  const Font& GetFont() const { return font_; }
  void SetFont(const Font& font);
  Color BackColor() const { return back_; }
  Color ForeColor() const { return fore_; }
  void SetColors(Color back, Color fore);
  const std::string& ToolTip() const { return tooltip_; }
  void SetToolTip(std::string text);

  void AttachPeer(ControlPeer* peer) { peer_ = peer; }
  ControlPeer* Peer() const { return peer_; }

 protected:
  void Notify(Property what);
  // Runs an event handler through the platform's dispatcher, which ends the
  // program on an uncaught RuntimeError.
  void Raise(const std::function<void()>& handler);

 private:
  Window& window_;
  Frame* container_;
  std::string name_;
  ControlKind kind_;
  bool visible_ = true;
  bool enabled_ = true;
  Rect rect_;
  int tab_index_ = -1;
  Font font_;
  Color back_ = kWhite;
  Color fore_ = kBlack;
  std::string tooltip_;
  ControlPeer* peer_ = nullptr;
};

class Label : public Control {
 public:
  Label(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::Label) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string text);

 private:
  std::string caption_;
};

class TextBox : public Control {
 public:
  TextBox(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::TextBox) {}
  const std::string& Text() const { return text_; }
  void SetText(std::string text);
  // The user typed: same as SetText, the realisation calls it. A locked box
  // keeps its text.
  void UserEdited(std::string text);
  // Locked: the text shows, and can be selected and copied, but not typed
  // over; the program still sets it.
  bool Locked() const { return locked_; }
  void SetLocked(bool locked);

 private:
  std::string text_;
  bool locked_ = false;
};

class CheckBox : public Control {
 public:
  CheckBox(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::CheckBox) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string text);
  int Value() const { return value_; }  // 0 unchecked, 1 checked
  void SetValue(int value);
  // A click by the user: toggles the value.
  void FireClick();

 private:
  std::string caption_;
  int value_ = 0;
};

class Frame : public Control {
 public:
  Frame(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::Frame) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string text);

 private:
  std::string caption_;
};

class Button : public Control {
 public:
  Button(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::Button) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string text);
  bool Graphical() const { return graphical_; }
  void SetGraphical(bool g) {
    graphical_ = g;
    Notify(Property::Pictures);
  }
  const PicturePtr& Picture() const { return picture_; }
  const PicturePtr& DisabledPicture() const { return disabled_; }
  const PicturePtr& DownPicture() const { return down_; }
  void SetPicture(PicturePtr p);
  void SetDisabledPicture(PicturePtr p);
  void SetDownPicture(PicturePtr p);

  std::function<void()> Click;
  // A click by the user (mouse, Enter or Space on the focused button): runs
  // Click when the button is visible and enabled. Returns whether it ran.
  bool FireClick();

 private:
  std::string caption_;
  bool graphical_ = true;
  PicturePtr picture_, disabled_, down_;
};

// A row of a list: the first column's text, then one text for each column
// after it (SubItems(1), SubItems(2), ...), and how it is drawn. A column past
// the row's last text shows nothing. The row keeps its drawing through sorts.
struct ListItem {
  std::string text;
  std::vector<std::string> subItems;
  bool dimmed = false;  // drawn in the system's grey text: a row that stands for something not working
  // The text in `column` (0-based).
  const std::string& Cell(std::size_t column) const;
};

struct ColumnHeader {
  std::string text;
  float width = 0;  // twips
};

class ListView : public Control {
 public:
  ListView(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::ListView) {}

  // Columns.
  const std::vector<ColumnHeader>& Columns() const { return columns_; }
  void ClearColumns();
  void AddColumn(std::string text, float width);
  void SetColumnWidth(std::size_t index, float width);  // 0-based
  // The user dragged a column border: the realisation reports the new width.
  void UserResizedColumn(std::size_t index, float width);

  // Rows. Positions here are 0-based; the store's 1-based positions are its own.
  const std::vector<ListItem>& Items() const { return items_; }
  std::size_t Count() const { return items_.size(); }
  void ClearItems();
  // Appends a row; the first row added to an empty list becomes the selected
  // one, as the list control of the original platform does.
  void AddItem(ListItem item);
  // Replaces all rows at once (one update of the screen).
  void SetItems(std::vector<ListItem> items);
  ListItem& ItemAt(std::size_t index) { return items_.at(index); }
  void ItemChanged(std::size_t index);

  // Type-ahead on the first column: the row whose text begins with `prefix`
  // (ASCII letters compared without case), looking from row `start` down and
  // then from the top; -1 when none does.
  long FindItem(const std::string& prefix, long start) const;
  // The user typed `typed` into the list, one quick run of keys gathered by
  // the realisation: selects the row FindItem gives, looking from the
  // selected row, or from the one after it while the run repeats one
  // character (typing "t" again steps through the rows that begin with it).
  // Returns whether a row was found.
  bool UserTyped(const std::string& typed);

  // The order of the rows: by one of the columns (0-based), or -1 for the
  // order they were given in. The rows are sorted in place (letters without case,
  // equal texts keeping their order), the selected row stays selected, and
  // SetItems keeps the order chosen.
  int SortColumn() const { return sort_column_; }
  bool SortDescending() const { return sort_descending_; }
  void SortBy(int column, bool descending);
  // A click on a column's header: sorts by it, ascending, or the other way
  // round when it already sorts by it.
  void UserClickedColumn(std::size_t column);

  // -1 when no row is selected.
  long SelectedIndex() const { return selected_; }
  const ListItem* SelectedItem() const;
  void Select(long index);
  void UserSelected(long index);

  // The menu the list shows on a right click or the menu key: entries in
  // order; the realisation reports the one chosen (0-based).
  const std::vector<std::string>& ContextMenu() const { return menu_; }
  void SetContextMenu(std::vector<std::string> entries, std::function<void(std::size_t)> chosen);
  void FireContextMenu(std::size_t entry);

  // A double click on a row (the realisation has selected it by then): runs
  // DblClick when the list is visible and enabled. Returns whether it ran.
  std::function<void()> DblClick;
  bool FireDblClick();

  // Presentation options set by the window's load.
  bool ManualLabelEdit() const { return manual_label_edit_; }
  bool FullRowSelect() const { return full_row_select_; }
  bool HideSelection() const { return hide_selection_; }
  bool ReportView() const { return report_view_; }
  bool HideColumnHeaders() const { return hide_headers_; }
  void SetManualLabelEdit(bool v) {
    manual_label_edit_ = v;
    Notify(Property::ListOptions);
  }
  void SetFullRowSelect(bool v) {
    full_row_select_ = v;
    Notify(Property::ListOptions);
  }
  void SetHideSelection(bool v) {
    hide_selection_ = v;
    Notify(Property::ListOptions);
  }
  void SetReportView(bool v) {
    report_view_ = v;
    Notify(Property::ListOptions);
  }
  void SetHideColumnHeaders(bool v) {
    hide_headers_ = v;
    Notify(Property::ListOptions);
  }

 private:
  std::vector<ColumnHeader> columns_;
  std::vector<ListItem> items_;
  std::vector<std::string> menu_;
  std::function<void(std::size_t)> menu_chosen_;
  void SortItems();

  long selected_ = -1;
  int sort_column_ = -1;
  bool sort_descending_ = false;
  bool manual_label_edit_ = false;
  bool full_row_select_ = false;
  bool hide_selection_ = true;
  bool report_view_ = false;
  bool hide_headers_ = true;
};

// Image: shows its picture at the picture's own size from its top-left corner,
// and takes that size.
class Image : public Control {
 public:
  Image(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::Image) {}
  const PicturePtr& Picture() const { return picture_; }
  void SetPicture(PicturePtr p);

 private:
  PicturePtr picture_;
};

// Picture box: shows its picture unscaled from its top-left corner over its
// background; keeps its own size.
class PictureBox : public Control {
 public:
  PictureBox(Window& w, Frame* c, std::string name) : Control(w, c, std::move(name), ControlKind::PictureBox) {}
  const PicturePtr& Picture() const { return picture_; }
  void SetPicture(PicturePtr p);

 private:
  PicturePtr picture_;
};

// A timer of a window. The effective period is never below 10 ms, the
// smallest the program's original window system delivers.
class Timer {
 public:
  Timer(Window& window, std::string name);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  static constexpr int kMinimumPeriodMs = 10;
  const std::string& Name() const { return name_; }
  int Interval() const { return interval_; }
  int EffectiveInterval() const { return interval_ < kMinimumPeriodMs ? kMinimumPeriodMs : interval_; }
  void SetInterval(int ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool e);
  // Whether the timer runs now: enabled, interval above 0, window loaded.
  bool Running() const;

  std::function<void()> Tick;
  void FireTick();

  void AttachPeer(ControlPeer* peer) { peer_ = peer; }
  Window& Owner() const { return window_; }

 private:
  void Notify();
  Window& window_;
  std::string name_;
  int interval_ = 0;
  bool enabled_ = true;
  ControlPeer* peer_ = nullptr;
};

// The file-open dialog service (not drawn on the window).
class CommonDialog {
 public:
  explicit CommonDialog(Window& window) : window_(window) {}
  std::string Filter;
  int FilterIndex = 0;
  std::string DefaultExt;
  std::int32_t Flags = 0;
  std::string FileName;
  bool CancelError = false;
  // Shows the modal dialog. Cancelled with CancelError: throws RuntimeError
  // 32755. Other failures throw the facility's RuntimeError.
  void ShowOpen();

 private:
  Window& window_;
};

inline constexpr std::int32_t kCancelErrorNumber = 32755;
inline constexpr std::int32_t OFN_FILEMUSTEXIST = 0x1000;

}  // namespace zandrel::ui
