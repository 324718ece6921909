// The program's global window references. Each window exists at most once:
// the first show creates it and runs its load; showing an open one brings it
// to the front without loading it again; a closed one is replaced by a fresh
// object that loads afresh (its pictures are read from disk again) the next
// time it is shown. The process ends when the last open window closes; that
// bookkeeping is the platform's (Platform::WindowClosed calls Quit).
//
// Forms outlives every window it creates and must itself be destroyed before
// the platform and the registry it was given. While it lives, a change that
// waits for another writer (registry/Wait.h) keeps the windows drawn
// (Platform::DoPaintEvents); it must be made on the window system's thread,
// and the hook it replaced is put back when it goes.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ui/Window.h"
#include "registry/Registry.h"

namespace zandrel::shell {

class frmSplash;
class frmExit;
class frmAbout;

class Forms {
 public:
  // Creates the manager window. It receives the registry the program runs on
  // and the two openers its About and exit buttons call.
  using ManagerFactory =
      std::function<std::unique_ptr<ui::Window>(ui::Platform& platform, IRegistry& registry,
                                                std::function<void()> showAbout, std::function<void()> showExit)>;

  // The manager window comes from the program's start-up (frmZandrel) or a
  // test's stand-in: the windows here never include the manager.
  Forms(ui::Platform& platform, IRegistry& registry, ManagerFactory createManager);
  ~Forms();
  Forms(const Forms&) = delete;
  Forms& operator=(const Forms&) = delete;

  ui::Platform& GetPlatform() const { return platform_; }

  // Show: modeless, no owner. Create and load when there is no open window of
  // the kind; otherwise bring the open one to the front.
  void ShowSplash();
  void ShowManager();
  void ShowAbout();
  void ShowExit();

  // Unloads the manager window when there is one.
  void CloseManager();
  // Drops the reference to the splash window once it has unloaded itself.
  // Safe to call from one of the splash's own handlers: the object is freed
  // later, never while its handler runs.
  void ReleaseSplash();

  // The current objects, or nullptr when none exists (never created, or
  // closed and released). A closed window's object stays reachable here until
  // it is replaced; check Loaded() to tell.
  frmSplash* Splash() const { return splash_.get(); }
  ui::Window* Manager() const { return manager_.get(); }
  frmAbout* About() const { return about_.get(); }
  frmExit* Exit() const { return exit_.get(); }

 private:
  template <class W, class Make>
  void ShowOnce(std::unique_ptr<W>& slot, Make make);
  void Retire(std::unique_ptr<ui::Window> window);

  ui::Platform& platform_;
  IRegistry& registry_;
  ManagerFactory create_manager_;
  std::unique_ptr<frmSplash> splash_;
  std::unique_ptr<ui::Window> manager_;
  std::unique_ptr<frmAbout> about_;
  std::unique_ptr<frmExit> exit_;
  // Closed windows waiting to be freed: a window may close itself from its
  // own event handler, so its object must outlive that handler.
  std::vector<std::unique_ptr<ui::Window>> retired_;
  std::function<void()> previous_wait_hook_;  // put back when this goes
};

}  // namespace zandrel::shell
