// The About box: one label with the paragraph about the program and one
// picture button that closes the box. While open it keeps the process alive.
#pragma once

#include <string>

#include "ui/Controls.h"
#include "ui/Window.h"

namespace zandrel::shell {

class frmAbout : public ui::Window {
 public:
  explicit frmAbout(ui::Platform& platform);

  ui::Button cmdForwrd;
  ui::Label lblInfo;

  // The label's text as designed: one paragraph, no line breaks.
  static const std::string& InfoText();

 protected:
  void Form_Load() override;

 private:
  void cmdForwrd_Click();
};

}  // namespace zandrel::shell
