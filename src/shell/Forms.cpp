#include "shell/Forms.h"

#include <utility>

#include "shell/frmAbout.h"
#include "shell/frmExit.h"
#include "shell/frmSplash.h"
#include "registry/Wait.h"
#include "ui/Platform.h"

namespace zandrel::shell {

Forms::Forms(ui::Platform& platform, IRegistry& registry, ManagerFactory createManager)
    : platform_(platform), registry_(registry), create_manager_(std::move(createManager)) {
  previous_wait_hook_ = registry::SetWaitHook([this] { platform_.DoPaintEvents(); });
}

Forms::~Forms() { registry::SetWaitHook(std::move(previous_wait_hook_)); }

void Forms::Retire(std::unique_ptr<ui::Window> window) {
  if (window) retired_.push_back(std::move(window));
}

// Windows retired earlier are freed here: no handler of theirs can still be
// running, since the program shows no window from a handler after closing the
// handler's own window.
template <class W, class Make>
void Forms::ShowOnce(std::unique_ptr<W>& slot, Make make) {
  retired_.clear();
  if (slot && !slot->Loaded()) Retire(std::move(slot));
  if (!slot) slot = make();
  slot->Show();
}

void Forms::ShowSplash() {
  ShowOnce(splash_, [this] { return std::make_unique<frmSplash>(platform_, *this); });
}

void Forms::ShowManager() {
  ShowOnce(manager_, [this] {
    return create_manager_(
        platform_, registry_, [this] { ShowAbout(); }, [this] { ShowExit(); });
  });
}

void Forms::ShowAbout() {
  ShowOnce(about_, [this] { return std::make_unique<frmAbout>(platform_); });
}

void Forms::ShowExit() {
  ShowOnce(exit_, [this] { return std::make_unique<frmExit>(platform_, *this); });
}

void Forms::CloseManager() {
  if (manager_) manager_->Close();
}

void Forms::ReleaseSplash() { Retire(std::move(splash_)); }

}  // namespace zandrel::shell
