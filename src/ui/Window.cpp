#include "ui/Window.h"

#include <algorithm>

#include "ui/Platform.h"

namespace zandrel::ui {

Window::Window(Platform& platform, std::string name) : platform_(platform), name_(std::move(name)) {}

Window::~Window() {
  if (shown_) platform_.Unrealize(*this);
}

void Window::Notify(Property what) {
  if (peer_ != nullptr) peer_->Update(what);
}

void Window::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  Notify(Property::Caption);
}

void Window::SetClientSize(float width, float height) {
  client_width_ = width;
  client_height_ = height;
  Notify(Property::Geometry);
}

void Window::SetMinimized(bool minimized) {
  minimized_ = minimized;
  Notify(Property::WindowState);
}

Control* Window::FindControl(const std::string& name) const {
  for (Control* c : controls_)
    if (c->Name() == name) return c;
  return nullptr;
}

void Window::Raise(const std::function<void()>& handler) { platform_.Dispatch(handler); }

void Window::Show() {
  if (shown_) {
    platform_.BringToFront(*this);
    return;
  }
  if (!loaded_) {
    loaded_ = true;
    focused_ = nullptr;
    Form_Load();  // errors go to the dispatcher of the event that showed us
  }
  shown_ = true;
  platform_.WindowOpened(*this);
  if (focused_ == nullptr) {
    std::vector<Control*> order = TabOrder();
    if (!order.empty()) focused_ = order.front();
  }
  platform_.Realize(*this);
  Form_Resize();
}

void Window::Close() {
  if (!loaded_ && !shown_) return;
  bool was_shown = shown_;
  loaded_ = false;
  shown_ = false;
  focused_ = nullptr;
  if (was_shown) {
    platform_.Unrealize(*this);
    platform_.WindowClosed(*this);
  }
}

std::vector<Control*> Window::TabOrder() const {
  std::vector<Control*> order;
  for (Control* c : controls_)
    if (c->TabIndex() >= 0 && c->CanTakeFocus() && c->EffectivelyVisible() && c->EffectivelyEnabled())
      order.push_back(c);
  std::stable_sort(order.begin(), order.end(),
                   [](const Control* a, const Control* b) { return a->TabIndex() < b->TabIndex(); });
  return order;
}

void Window::SetFocusTo(Control* control) {
  if (control != nullptr &&
      (!control->CanTakeFocus() || !control->EffectivelyVisible() || !control->EffectivelyEnabled()))
    return;
  focused_ = control;
  if (control != nullptr && control->Peer() != nullptr) control->Peer()->Update(Property::Focus);
}

void Window::FireKey(Key key) {
  switch (key) {
    case Key::Tab:
    case Key::BackTab: {
      std::vector<Control*> order = TabOrder();
      if (order.empty()) return;
      auto it = std::find(order.begin(), order.end(), focused_);
      std::size_t i = it == order.end() ? 0 : static_cast<std::size_t>(it - order.begin());
      std::size_t n = order.size();
      std::size_t next = it == order.end() ? 0 : (key == Key::Tab ? (i + 1) % n : (i + n - 1) % n);
      SetFocusTo(order[next]);
      return;
    }
    case Key::Enter:
    case Key::Space:
      if (focused_ != nullptr && focused_->Kind() == ControlKind::Button) static_cast<Button*>(focused_)->FireClick();
      else if (key == Key::Space && focused_ != nullptr && focused_->Kind() == ControlKind::CheckBox)
        static_cast<CheckBox*>(focused_)->FireClick();
      return;
    case Key::Escape: return;
    case Key::CtrlZ:
    case Key::CtrlY: {
      const std::function<void()>& handler = key == Key::CtrlZ ? undo_key_ : redo_key_;
      if (handler && (focused_ == nullptr || focused_->Kind() != ControlKind::TextBox)) Raise(handler);
      return;
    }
  }
}

void Window::SetShortcut(Key key, std::function<void()> handler) {
  if (key == Key::CtrlZ) undo_key_ = std::move(handler);
  if (key == Key::CtrlY) redo_key_ = std::move(handler);
}

}  // namespace zandrel::ui
