#include "shell/frmExit.h"

#include "assets/Assets.h"
#include "shell/Forms.h"

namespace zandrel::shell {

frmExit::frmExit(ui::Platform& platform, Forms& forms)
    : ui::Window(platform, "frmExit"),
      cmdNo01(*this, nullptr, "cmdNo01"),
      cmdYes01(*this, nullptr, "cmdYes01"),
      imgExitL(*this, nullptr, "imgExitL"),
      forms_(forms) {
  SetCaption("");
  SetBorder(ui::BorderStyle::None);
  SetShowInTaskbar(false);
  SetBackColor(ui::kWhite);
  SetClientSize(4230, 1605);

  cmdNo01.Move(2520, 840, 1575, 615);
  cmdNo01.SetTabIndex(1);
  cmdNo01.SetGraphical(true);
  cmdNo01.SetColors(ui::kWhite, ui::kBlack);
  cmdNo01.Click = [this] { cmdNo01_Click(); };

  cmdYes01.Move(120, 840, 1575, 615);
  cmdYes01.SetTabIndex(0);
  cmdYes01.SetGraphical(true);
  cmdYes01.SetColors(ui::kWhite, ui::kBlack);
  cmdYes01.Click = [this] { cmdYes01_Click(); };

  imgExitL.Move(120, 120, 3975, 615);
}

// Every load is unguarded: a missing picture ends the program here, the first
// time the user asks to quit.
void frmExit::Form_Load() {
  ui::Platform& platform = GetPlatform();
  cmdYes01.SetPicture(assets::LoadAssetPicture(platform, "\\Exit-y1.g"));
  cmdYes01.SetDisabledPicture(assets::LoadAssetPicture(platform, "\\Exit-y1.g"));
  cmdYes01.SetDownPicture(assets::LoadAssetPicture(platform, "\\Exit-y2.g"));
  cmdNo01.SetPicture(assets::LoadAssetPicture(platform, "\\Exit-n1.g"));
  cmdNo01.SetDisabledPicture(assets::LoadAssetPicture(platform, "\\Exit-n1.g"));
  cmdNo01.SetDownPicture(assets::LoadAssetPicture(platform, "\\Exit-n2.g"));
  imgExitL.SetPicture(assets::LoadAssetPicture(platform, "\\Exit.g"));
}

void frmExit::cmdYes01_Click() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  forms_.CloseManager();
  Close();
}

void frmExit::cmdNo01_Click() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  Close();
}

}  // namespace zandrel::shell
