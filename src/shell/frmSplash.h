// The start-up window: a still picture, two picture-swapping animations and
// the splash cue; after six seconds it shows the manager window and unloads
// itself. It offers nothing to close it early: no title bar, no control box,
// no mouse or key handling.
#pragma once

#include <array>
#include <cstdint>

#include "ui/Controls.h"
#include "ui/Window.h"

namespace zandrel::shell {

class Forms;

class frmSplash : public ui::Window {
 public:
  // `forms` must outlive the window; the hand-over tick uses it.
  frmSplash(ui::Platform& platform, Forms& forms);

  ui::PictureBox picMama01;  // shows the two-frame animation
  ui::PictureBox picMama02;  // shows the ten-frame animation
  ui::Image imgPr;           // the still picture
  // Frame stores, never made visible: member k holds the frame file ending in k.
  std::array<ui::Image, 2> pic01;
  std::array<ui::Image, 10> picK01;
  ui::Timer tmrCOOL01;  // 1 ms: drives the two-frame animation
  ui::Timer tmrCOOL02;  // 1 ms: drives the ten-frame animation
  ui::Timer tmrNext;    // 6000 ms: hands over to the manager window

  // Index into pic01 / picK01 of the next frame to show; 0 at load.
  std::int16_t frameIndex01 = 0;
  std::int16_t frameIndexK01 = 0;

 protected:
  void Form_Load() override;

 private:
  void tmrCOOL01_Timer();
  void tmrCOOL02_Timer();
  void tmrNext_Timer();

  Forms& forms_;
};

}  // namespace zandrel::shell
