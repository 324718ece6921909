#include "ui/Controls.h"

#include <algorithm>

#include "ui/Platform.h"
#include "ui/Window.h"

namespace zandrel::ui {

Control::Control(Window& window, Frame* container, std::string name, ControlKind kind)
    : window_(window), container_(container), name_(std::move(name)), kind_(kind) {
  window_.Register(this);
}

Control::~Control() = default;

void Control::Notify(Property what) {
  if (peer_ != nullptr) peer_->Update(what);
}

void Control::Raise(const std::function<void()>& handler) { window_.Raise(handler); }

void Control::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  Notify(Property::Visible);
}

void Control::SetEnabled(bool e) {
  if (enabled_ == e) return;
  enabled_ = e;
  Notify(Property::Enabled);
}

bool Control::EffectivelyVisible() const {
  for (const Control* c = this; c != nullptr; c = c->container_)
    if (!c->visible_) return false;
  return true;
}

bool Control::EffectivelyEnabled() const {
  for (const Control* c = this; c != nullptr; c = c->container_)
    if (!c->enabled_) return false;
  return true;
}

void Control::Move(float left, float top, float width, float height) {
  rect_ = Rect{left, top, width, height};
  Notify(Property::Geometry);
}

void Control::SetTabIndex(int index) {
  tab_index_ = index;
  Notify(Property::TabIndex);
}

bool Control::CanTakeFocus() const {
  switch (kind_) {
    case ControlKind::TextBox:
    case ControlKind::CheckBox:
    case ControlKind::Button:
    case ControlKind::ListView:
    case ControlKind::PictureBox: return true;
    default: return false;
  }
}

void Control::SetFocus() { window_.SetFocusTo(this); }

bool Control::HasFocus() const { return window_.Focused() == this; }

void Control::SetFont(const Font& font) {
  font_ = font;
  Notify(Property::Font);
}

void Control::SetColors(Color back, Color fore) {
  back_ = back;
  fore_ = fore;
  Notify(Property::Colors);
}

void Control::SetToolTip(std::string text) {
  tooltip_ = std::move(text);
  Notify(Property::ToolTip);
}

void Label::SetCaption(std::string text) {
  caption_ = std::move(text);
  Notify(Property::Caption);
}

void TextBox::SetText(std::string text) {
  text_ = std::move(text);
  Notify(Property::Text);
}

void TextBox::UserEdited(std::string text) {
  if (!locked_) text_ = std::move(text);
}

void TextBox::SetLocked(bool locked) {
  locked_ = locked;
  Notify(Property::Locked);
}

void CheckBox::SetCaption(std::string text) {
  caption_ = std::move(text);
  Notify(Property::Caption);
}

void CheckBox::SetValue(int value) {
  value_ = value;
  Notify(Property::Value);
}

void CheckBox::FireClick() {
  if (!EffectivelyVisible() || !EffectivelyEnabled()) return;
  SetValue(value_ == 1 ? 0 : 1);
}

void Frame::SetCaption(std::string text) {
  caption_ = std::move(text);
  Notify(Property::Caption);
}

void Button::SetCaption(std::string text) {
  caption_ = std::move(text);
  Notify(Property::Caption);
}

void Button::SetPicture(PicturePtr p) {
  picture_ = std::move(p);
  Notify(Property::Pictures);
}

void Button::SetDisabledPicture(PicturePtr p) {
  disabled_ = std::move(p);
  Notify(Property::Pictures);
}

void Button::SetDownPicture(PicturePtr p) {
  down_ = std::move(p);
  Notify(Property::Pictures);
}

bool Button::FireClick() {
  if (!EffectivelyVisible() || !EffectivelyEnabled() || !Click) return false;
  auto handler = Click;  // the handler may close and reload the window
  Raise(handler);
  return true;
}

void ListView::ClearColumns() {
  columns_.clear();
  Notify(Property::Columns);
}

void ListView::AddColumn(std::string text, float width) {
  columns_.push_back(ColumnHeader{std::move(text), width});
  Notify(Property::Columns);
}

void ListView::SetColumnWidth(std::size_t index, float width) {
  columns_.at(index).width = width;
  Notify(Property::Columns);
}

void ListView::UserResizedColumn(std::size_t index, float width) {
  if (index < columns_.size()) columns_[index].width = width;
}

void ListView::ClearItems() {
  items_.clear();
  selected_ = -1;
  Notify(Property::Items);
}

void ListView::AddItem(ListItem item) {
  items_.push_back(std::move(item));
  if (selected_ < 0) selected_ = 0;
  Notify(Property::Items);
}

void ListView::SetItems(std::vector<ListItem> items) {
  items_ = std::move(items);
  SortItems();
  selected_ = items_.empty() ? -1 : 0;
  Notify(Property::Items);
}

void ListView::ItemChanged(std::size_t) { Notify(Property::Items); }

namespace {

char Folded(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool BeginsWith(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Folded(text[i]) != Folded(prefix[i])) return false;
  return true;
}

// <0, 0, >0 as a before, equal to, after b; letters without case, then bytes.
int CompareFolded(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Folded(a[i])), y = static_cast<unsigned char>(Folded(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

const std::string& ListItem::Cell(std::size_t column) const {
  static const std::string kNone;
  if (column == 0) return text;
  return column <= subItems.size() ? subItems[column - 1] : kNone;
}

long ListView::FindItem(const std::string& prefix, long start) const {
  const auto count = static_cast<long>(items_.size());
  if (prefix.empty() || count == 0) return -1;
  if (start < 0 || start >= count) start = 0;
  for (long i = 0; i < count; ++i) {
    const long row = (start + i) % count;
    if (BeginsWith(items_[static_cast<std::size_t>(row)].text, prefix)) return row;
  }
  return -1;
}

bool ListView::UserTyped(const std::string& typed) {
  const bool one_key_repeated = !typed.empty() && typed.find_first_not_of(typed[0]) == std::string::npos;
  // A repeated key looks among the rows that begin with it once.
  const std::string prefix = one_key_repeated ? typed.substr(0, 1) : typed;
  const long start = selected_ < 0 ? 0 : selected_ + (one_key_repeated ? 1 : 0);
  const long found = FindItem(prefix, start);
  if (found < 0) return false;
  Select(found);
  return true;
}

void ListView::SortItems() {
  if (sort_column_ < 0 || items_.empty()) return;
  const auto column = static_cast<std::size_t>(sort_column_);
  const bool descending = sort_descending_;
  // Sorted as places, so that the selected row is found again among them.
  std::vector<std::size_t> order(items_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this, column, descending](std::size_t a, std::size_t b) {
    const int c = CompareFolded(items_[a].Cell(column), items_[b].Cell(column));
    return descending ? c > 0 : c < 0;
  });
  std::vector<ListItem> sorted;
  sorted.reserve(items_.size());
  long selected = -1;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (static_cast<long>(order[i]) == selected_) selected = static_cast<long>(i);
    sorted.push_back(std::move(items_[order[i]]));
  }
  items_ = std::move(sorted);
  selected_ = selected;
}

void ListView::SortBy(int column, bool descending) {
  sort_column_ = column >= 0 && static_cast<std::size_t>(column) < columns_.size() ? column : -1;
  sort_descending_ = sort_column_ >= 0 && descending;
  SortItems();
  Notify(Property::Columns);
  Notify(Property::Items);
}

void ListView::UserClickedColumn(std::size_t column) {
  if (column >= columns_.size()) return;
  const int c = static_cast<int>(column);
  SortBy(c, c == sort_column_ && !sort_descending_);
}

const ListItem* ListView::SelectedItem() const {
  if (selected_ < 0 || static_cast<std::size_t>(selected_) >= items_.size()) return nullptr;
  return &items_[static_cast<std::size_t>(selected_)];
}

void ListView::Select(long index) {
  selected_ = (index >= 0 && static_cast<std::size_t>(index) < items_.size()) ? index : -1;
  Notify(Property::Selection);
}

void ListView::UserSelected(long index) {
  selected_ = (index >= 0 && static_cast<std::size_t>(index) < items_.size()) ? index : -1;
}

void ListView::SetContextMenu(std::vector<std::string> entries, std::function<void(std::size_t)> chosen) {
  menu_ = std::move(entries);
  menu_chosen_ = std::move(chosen);
}

void ListView::FireContextMenu(std::size_t entry) {
  if (entry < menu_.size() && menu_chosen_) Raise([this, entry] { menu_chosen_(entry); });
}

bool ListView::FireDblClick() {
  if (!EffectivelyVisible() || !EffectivelyEnabled() || !DblClick) return false;
  auto handler = DblClick;  // the handler may reload the list
  Raise(handler);
  return true;
}

void Image::SetPicture(PicturePtr p) {
  picture_ = std::move(p);
  if (picture_) {
    const Rect& r = Geometry();
    Move(r.left, r.top, picture_->widthPx * 15.0f, picture_->heightPx * 15.0f);
  }
  Notify(Property::Pictures);
}

void PictureBox::SetPicture(PicturePtr p) {
  picture_ = std::move(p);
  Notify(Property::Pictures);
}

Timer::Timer(Window& window, std::string name) : window_(window), name_(std::move(name)) { window_.Register(this); }

Timer::~Timer() = default;

void Timer::Notify() {
  if (peer_ != nullptr) peer_->Update(Property::Interval);
}

void Timer::SetInterval(int ms) {
  interval_ = ms < 0 ? 0 : ms;
  Notify();
}

void Timer::SetEnabled(bool e) {
  enabled_ = e;
  Notify();
}

bool Timer::Running() const { return enabled_ && interval_ > 0 && window_.Loaded(); }

void Timer::FireTick() {
  if (!Running() || !Tick) return;
  auto handler = Tick;
  window_.Raise(handler);
}

void CommonDialog::ShowOpen() { window_.GetPlatform().ShowOpen(*this); }

}  // namespace zandrel::ui
