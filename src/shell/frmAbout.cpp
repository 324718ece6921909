#include "shell/frmAbout.h"

#include "assets/Assets.h"

namespace zandrel::shell {

namespace {

// The paragraph as written, spaces, hyphenations and straight quotes included.
constexpr std::string_view kInfoLead =
    " Перед вами программа для облегчен- ной ассоциации файлов. Теперь и вы, можете оценить "
    "простоту и удобство программного обеспечения компании ";
constexpr std::string_view kCompany = "\"Quirk Soft Inc.\"";
constexpr std::string_view kInfoBody =
    ". Наша компания тесно сотрудничает с пользователями. Все программы вышедшие из под наших "
    "мозолистых рук могут быть переделан- ны и доработанны - для вас и под вас! Но ... в обмен на "
    "информацию. Вы можете подумать какую информацию парень? Любую: интересную, позна- "
    "вательную,весёлую,визуальную,слуховую и т.д. Стоп ! Только не надо сейчас же посылать мне "
    "мега-тонны  нулей и едениц , сначала обговорим все детали партнёр :-) Все ваши замечания и "
    "предложенния посылайте по адрессу:  ";
constexpr std::string_view kContact = "info@quirksoft.example.";

}  // namespace

const std::string& frmAbout::InfoText() {
  static const std::string text = [] {
    std::string t;
    t.append(kInfoLead).append(kCompany).append(kInfoBody).append(kContact);
    return t;
  }();
  return text;
}

frmAbout::frmAbout(ui::Platform& platform)
    : ui::Window(platform, "frmAbout"), cmdForwrd(*this, nullptr, "cmdForwrd"), lblInfo(*this, nullptr, "lblInfo") {
  SetCaption("О программе...");
  SetBorder(ui::BorderStyle::FixedSingle);
  SetShowInTaskbar(true);
  SetBackColor(ui::kWhite);
  SetClientSize(4740, 6870);

  cmdForwrd.Move(1680, 6240, 1335, 495);
  cmdForwrd.SetTabIndex(0);
  cmdForwrd.SetGraphical(true);
  cmdForwrd.SetColors(ui::kWhite, ui::kBlack);
  cmdForwrd.Click = [this] { cmdForwrd_Click(); };

  lblInfo.Move(120, 240, 4455, 5175);
  lblInfo.SetTabIndex(1);
  lblInfo.SetColors(ui::kWhite, ui::kBlack);
  lblInfo.SetFont(ui::Font{"MS Sans Serif", 9.75f, true, 204});
  lblInfo.SetCaption(InfoText());
}

void frmAbout::Form_Load() {
  ui::Platform& platform = GetPlatform();
  cmdForwrd.SetPicture(assets::LoadAssetPicture(platform, "\\Forw1.g"));
  cmdForwrd.SetDisabledPicture(assets::LoadAssetPicture(platform, "\\Forw1.g"));
  cmdForwrd.SetDownPicture(assets::LoadAssetPicture(platform, "\\Forw2.g"));
}

void frmAbout::cmdForwrd_Click() {
  assets::PlaySoundCue(GetPlatform(), assets::kClickCue);
  Close();
}

}  // namespace zandrel::shell
