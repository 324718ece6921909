// A top-level window: its own state (caption, client size, border, colours),
// the controls and timers it holds, and its lifecycle. A window exists at most
// once: Show() creates it on screen and runs its load handler the first time,
// brings it to the front afterwards; Close() unloads it, and the next Show()
// loads it afresh.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace zandrel::ui {

enum class BorderStyle {
  None,         // no border, no title bar
  FixedSingle,  // thin fixed border; a title bar when the caption is not empty
};

enum class Key { Enter, Space, Escape, Tab, BackTab, CtrlZ, CtrlY };

class Window {
 public:
  Window(Platform& platform, std::string name);
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  Platform& GetPlatform() const { return platform_; }
  const std::string& Name() const { return name_; }

  // Design properties, set by the window's constructor.
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  BorderStyle Border() const { return border_; }
  void SetBorder(BorderStyle border) { border_ = border; }
  bool HasTitleBar() const { return border_ != BorderStyle::None && !caption_.empty(); }
  bool ShowInTaskbar() const { return show_in_taskbar_; }
  void SetShowInTaskbar(bool show) { show_in_taskbar_ = show; }
  Color BackColor() const { return back_; }
  void SetBackColor(Color c) { back_ = c; }
  const PicturePtr& Icon() const { return icon_; }
  void SetIcon(PicturePtr icon) { icon_ = std::move(icon); }

  // Client area in twips; the window is centred on the screen when shown.
  float ClientWidth() const { return client_width_; }
  float ClientHeight() const { return client_height_; }
  void SetClientSize(float width, float height);
  // One side of the border, in twips: 3 pixels for the fixed single border.
  float BorderTwips() const { return border_ == BorderStyle::FixedSingle ? 45.0f : 0.0f; }
  // Client width plus the border on both sides.
  float OuterWidth() const { return client_width_ + 2 * BorderTwips(); }

  bool Minimized() const { return minimized_; }
  // The realisation (or a test) reports the window's state.
  void SetMinimized(bool minimized);

  const std::vector<Control*>& Controls() const { return controls_; }
  const std::vector<Timer*>& Timers() const { return timers_; }
  Control* FindControl(const std::string& name) const;

  // Lifecycle.
  bool Loaded() const { return loaded_; }
  bool Shown() const { return shown_; }
  void Show();
  void Close();

  // Keyboard focus, among controls that can take it (see Control).
  Control* Focused() const { return focused_; }
  void SetFocusTo(Control* control);
  // The controls that take part in the tab order now, in tab order.
  std::vector<Control*> TabOrder() const;
  // A key pressed in the window: Tab moves the focus, Enter and Space press
  // the focused button, a key given a shortcut runs its handler unless a
  // text box has the focus (Ctrl+Z and Ctrl+Y are then the box's own);
  // nothing else happens (no default or cancel buttons).
  void FireKey(Key key);
  // Ctrl+Z or Ctrl+Y (the shortcuts there are) runs `handler`; each
  // realisation passes them on from anywhere in the window but a text box,
  // which keeps them.
  void SetShortcut(Key key, std::function<void()> handler);

  void AttachPeer(ControlPeer* peer) { peer_ = peer; }
  ControlPeer* Peer() const { return peer_; }

  // Registration, done by the constructors of controls and timers.
  void Register(Control* control) { controls_.push_back(control); }
  void Register(Timer* timer) { timers_.push_back(timer); }

  // Runs an event handler through the platform's dispatcher.
  void Raise(const std::function<void()>& handler);

 protected:
  virtual void Form_Load() {}
  virtual void Form_Resize() {}

 private:
  void Notify(Property what);

  Platform& platform_;
  std::string name_;
  std::string caption_;
  BorderStyle border_ = BorderStyle::FixedSingle;
  bool show_in_taskbar_ = true;
  Color back_ = kWhite;
  PicturePtr icon_;
  float client_width_ = 0;
  float client_height_ = 0;
  bool minimized_ = false;
  bool loaded_ = false;
  bool shown_ = false;
  std::vector<Control*> controls_;
  std::vector<Timer*> timers_;
  Control* focused_ = nullptr;
  ControlPeer* peer_ = nullptr;
  std::function<void()> undo_key_, redo_key_;
};

}  // namespace zandrel::ui
