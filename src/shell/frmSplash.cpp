#include "shell/frmSplash.h"

#include "assets/Assets.h"
#include "shell/Forms.h"

namespace zandrel::shell {

namespace {

// "\Quirk0000k.j" goes into picK01(k).
constexpr std::array<std::string_view, 10> kQuirkFrames = {
    "\\Quirk00000.j", "\\Quirk00001.j", "\\Quirk00002.j", "\\Quirk00003.j", "\\Quirk00004.j",
    "\\Quirk00005.j", "\\Quirk00006.j", "\\Quirk00007.j", "\\Quirk00008.j", "\\Quirk00009.j",
};

}  // namespace

frmSplash::frmSplash(ui::Platform& platform, Forms& forms)
    : ui::Window(platform, "frmSplash"),
      picMama01(*this, nullptr, "picMama01"),
      picMama02(*this, nullptr, "picMama02"),
      imgPr(*this, nullptr, "imgPr"),
      pic01{{
          ui::Image(*this, nullptr, "pic01(0)"),
          ui::Image(*this, nullptr, "pic01(1)"),
      }},
      picK01{{
          ui::Image(*this, nullptr, "picK01(0)"),
          ui::Image(*this, nullptr, "picK01(1)"),
          ui::Image(*this, nullptr, "picK01(2)"),
          ui::Image(*this, nullptr, "picK01(3)"),
          ui::Image(*this, nullptr, "picK01(4)"),
          ui::Image(*this, nullptr, "picK01(5)"),
          ui::Image(*this, nullptr, "picK01(6)"),
          ui::Image(*this, nullptr, "picK01(7)"),
          ui::Image(*this, nullptr, "picK01(8)"),
          ui::Image(*this, nullptr, "picK01(9)"),
      }},
      tmrCOOL01(*this, "tmrCOOL01"),
      tmrCOOL02(*this, "tmrCOOL02"),
      tmrNext(*this, "tmrNext"),
      forms_(forms) {
  SetCaption("");
  SetBorder(ui::BorderStyle::FixedSingle);
  SetBackColor(ui::kBlack);
  SetClientSize(11220, 8310);

  picMama01.Move(0, -120, 8295, 6735);
  picMama01.SetColors(ui::kBlack, ui::kWhite);
  picMama01.SetTabIndex(0);
  picMama02.Move(8760, 240, 2415, 1095);
  picMama02.SetColors(ui::kBlack, ui::kWhite);
  picMama02.SetTabIndex(1);
  imgPr.Move(5400, 7200, 6375, 495);
  for (ui::Image& holder : pic01) holder.SetVisible(false);
  for (ui::Image& holder : picK01) holder.SetVisible(false);

  tmrCOOL01.SetInterval(1);
  tmrCOOL02.SetInterval(1);
  tmrNext.SetInterval(6000);
  tmrCOOL01.Tick = [this] { tmrCOOL01_Timer(); };
  tmrCOOL02.Tick = [this] { tmrCOOL02_Timer(); };
  tmrNext.Tick = [this] { tmrNext_Timer(); };
}

void frmSplash::Form_Load() {
  ui::Platform& platform = GetPlatform();
  imgPr.SetPicture(assets::LoadAssetPicture(platform, "\\Me00000.g"));
  assets::PlaySoundCue(platform, assets::kSplashCue);
}

// Shows the stored frame before reloading the stores, so the first tick shows
// an empty box.
void frmSplash::tmrCOOL01_Timer() {
  picMama01.SetPicture(pic01[static_cast<std::size_t>(frameIndex01)].Picture());
  frameIndex01 = static_cast<std::int16_t>(frameIndex01 + 1);
  if (frameIndex01 == 2) frameIndex01 = 0;
  ui::Platform& platform = GetPlatform();
  pic01[0].SetPicture(assets::LoadAssetPicture(platform, "\\J-1.j"));
  pic01[1].SetPicture(assets::LoadAssetPicture(platform, "\\J-2.j"));
}

void frmSplash::tmrCOOL02_Timer() {
  picMama02.SetPicture(picK01[static_cast<std::size_t>(frameIndexK01)].Picture());
  frameIndexK01 = static_cast<std::int16_t>(frameIndexK01 + 1);
  if (frameIndexK01 == 10) frameIndexK01 = 0;
  ui::Platform& platform = GetPlatform();
  for (std::size_t k = 0; k < picK01.size(); ++k)
    picK01[k].SetPicture(assets::LoadAssetPicture(platform, kQuirkFrames[k]));
}

// The manager window is on screen before the splash goes, so the count of
// open windows never drops to zero here.
void frmSplash::tmrNext_Timer() {
  Forms& forms = forms_;
  forms.ShowManager();
  Close();
  forms.ReleaseSplash();  // `this` stays valid until Forms frees it later
}

}  // namespace zandrel::shell
