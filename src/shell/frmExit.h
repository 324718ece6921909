// The exit confirmation: Yes closes the manager window and then itself, which
// ends the process unless the About box is still open; No closes only itself.
// Neither button is a default or cancel button: Enter or Space presses the
// focused one (Yes when the window opens), Escape does nothing.
#pragma once

#include "ui/Controls.h"
#include "ui/Window.h"

namespace zandrel::shell {

class Forms;

class frmExit : public ui::Window {
 public:
  // `forms` must outlive the window; Yes closes the manager window through it.
  frmExit(ui::Platform& platform, Forms& forms);

  ui::Button cmdNo01;
  ui::Button cmdYes01;
  ui::Image imgExitL;

 protected:
  void Form_Load() override;

 private:
  void cmdYes01_Click();
  void cmdNo01_Click();

  Forms& forms_;
};

}  // namespace zandrel::shell
