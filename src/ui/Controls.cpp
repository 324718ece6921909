#include "ui/Controls.h"

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
    case ControlKind::PictureBox:
      return true;
    default:
      return false;
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

void TextBox::UserEdited(std::string text) { text_ = std::move(text); }

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
  selected_ = items_.empty() ? -1 : 0;
  Notify(Property::Items);
}

void ListView::ItemChanged(std::size_t) { Notify(Property::Items); }

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

Timer::Timer(Window& window, std::string name) : window_(window), name_(std::move(name)) {
  window_.Register(this);
}

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
