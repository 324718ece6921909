#include <filesystem>

#include "manager/ManagerFixture.h"

namespace zandrel::testing {
namespace {

const ui::Font kWindowFont{"MS Sans Serif", 8.25f, false, 0};
const ui::Font kBold{"MS Sans Serif", 8.25f, true, 204};
const ui::Font kProgress{"MS Sans Serif", 9.75f, true, 204};

struct ControlRow {
  const char* name;
  ui::ControlKind kind;
  bool inFrame;
  ui::Rect rect;
  int tabIndex;
  const char* text;  // caption or text
  ui::Font font;
};

const ControlRow kControls[] = {
    {"cmdA01", ui::ControlKind::Button, false, {6360, 120, 1815, 495}, 18, "", kWindowFont},
    {"lvwAsso", ui::ControlKind::ListView, false, {0, 1080, 8535, 6255}, 16, "", kBold},
    {"cmdList", ui::ControlKind::Button, false, {120, 120, 1485, 495}, 14, "", kBold},
    {"cmdExit", ui::ControlKind::Button, false, {4800, 120, 1485, 495}, 13, "", kBold},
    {"cmdAdd", ui::ControlKind::Button, false, {1680, 120, 1485, 495}, 12, "", kBold},
    {"cmdDelete", ui::ControlKind::Button, false, {3240, 120, 1485, 495}, 11, "", kBold},
    {"fraAsso", ui::ControlKind::Frame, false, {480, 2160, 7155, 3945}, 0, "fraAsso", kBold},
    {"lblProgress", ui::ControlKind::Label, false, {120, 720, 2415, 255}, 15, "Загрузка данных....", kProgress},
    {"cbxUpdateList", ui::ControlKind::CheckBox, true, {270, 360, 3135, 195}, 1, "Показать изменнения ", kWindowFont},
    {"lblTitleRef", ui::ControlKind::Label, true, {3360, 600, 885, 225}, 10, "Описание", kWindowFont},
    {"lblFileExt", ui::ControlKind::Label, true, {1440, 720, 1125, 225}, 9, "Расширенние", kWindowFont},
    {"txtTitleRef", ui::ControlKind::TextBox, true, {3360, 840, 2445, 315}, 4, "", kWindowFont},
    {"txtFileExt", ui::ControlKind::TextBox, true, {1440, 960, 675, 315}, 5, "", kWindowFont},
    {"lblRemarksForTitleDelete", ui::ControlKind::Label, true, {3360, 1200, 2835, 555}, 17,
     "WARNING: Не удаляйте если не уверены, что другие расширенния используют тоже описание.", kWindowFont},
    {"lblExecutableFileSpec", ui::ControlKind::Label, true, {120, 2040, 6045, 495}, 8,
     "Путь к программе с которой в хотите провести ассоциацию выбранного вами расширенния:", kWindowFont},
    {"txtExecutableFileSpec", ui::ControlKind::TextBox, true, {120, 2520, 5655, 315}, 7, "", kWindowFont},
    {"cmdDialogFileSpec", ui::ControlKind::Button, true, {5760, 2520, 315, 255}, 6, "...", kBold},
    {"cmdProceed", ui::ControlKind::Button, true, {2160, 3360, 1365, 375}, 3, "Применить", kBold},
    {"cmdCancel", ui::ControlKind::Button, true, {3960, 3360, 1365, 375}, 2, "Отмена", kBold},
};

std::string TextOf(const ui::Control& c) {
  switch (c.Kind()) {
    case ui::ControlKind::Label: return static_cast<const ui::Label&>(c).Caption();
    case ui::ControlKind::TextBox: return static_cast<const ui::TextBox&>(c).Text();
    case ui::ControlKind::CheckBox: return static_cast<const ui::CheckBox&>(c).Caption();
    case ui::ControlKind::Frame: return static_cast<const ui::Frame&>(c).Caption();
    case ui::ControlKind::Button: return static_cast<const ui::Button&>(c).Caption();
    default: return "";
  }
}

TEST_F(ManagerTest, WindowAsDesigned) {
  EXPECT_EQ(form->Name(), "frmZandrel");
  EXPECT_EQ(form->Caption(), "Orvanta");
  EXPECT_EQ(form->Border(), ui::BorderStyle::FixedSingle);
  EXPECT_EQ(form->ClientWidth(), 8535.0f);
  EXPECT_EQ(form->ClientHeight(), 7245.0f);
  EXPECT_EQ(form->BackColor(), ui::kWhite);
  EXPECT_EQ(platform.windowEvents, std::vector<std::string>{"show frmZandrel"});
  ASSERT_TRUE(form->Icon());
  EXPECT_EQ(form->Icon()->widthPx, 32);
  EXPECT_EQ(form->Icon()->heightPx, 32);
}

TEST_F(ManagerTest, EveryControlAsTheLayoutTableInStackingOrder) {
  frmZandrel design(platform, *registry, nullptr, nullptr);  // as built, before load and resize
  std::vector<std::string> order;
  for (const ui::Control* c : design.Controls()) order.push_back(c->Name());
  std::vector<std::string> expected;
  for (const ControlRow& row : kControls) expected.push_back(row.name);
  EXPECT_EQ(order, expected);
  for (const ControlRow& row : kControls) {
    SCOPED_TRACE(row.name);
    const ui::Control* c = design.FindControl(row.name);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Kind(), row.kind);
    EXPECT_EQ(c->Container(), row.inFrame ? &design.fraAsso : nullptr);
    EXPECT_EQ(c->Geometry(), row.rect);
    EXPECT_EQ(c->TabIndex(), row.tabIndex);
    EXPECT_EQ(TextOf(*c), row.text);
    EXPECT_EQ(c->GetFont(), row.font);
    EXPECT_EQ(c->BackColor(), ui::kWhite);
    if (c->Kind() == ui::ControlKind::Button) {
      EXPECT_TRUE(static_cast<const ui::Button*>(c)->Graphical());
    }
  }
  EXPECT_EQ(form->cbxUpdateList.ToolTip(),
            "Поставьте здесь галочку, чтобы увидеть изменнения в списке сразу после вашего глумленния.");
  EXPECT_EQ(form->cmdDialogFileSpec.ToolTip(), "Выберети программу");
}

TEST_F(ManagerTest, StatesAfterLoad) {
  // The list after the first resize: the whole client area below its top.
  EXPECT_EQ(form->lvwAsso.Geometry(), (ui::Rect{0, 1080, 8535, 7245 - 1080}));
  EXPECT_TRUE(form->lvwAsso.Visible());
  EXPECT_EQ(form->lvwAsso.Count(), 0u);
  for (const ui::Button* b : {&form->cmdList, &form->cmdAdd, &form->cmdExit, &form->cmdA01})
    EXPECT_TRUE(b->Enabled()) << b->Name();
  EXPECT_FALSE(form->cmdDelete.Enabled());
  EXPECT_FALSE(form->lblProgress.Visible());
  EXPECT_TRUE(form->fraAsso.Visible());
  EXPECT_EQ(form->cbxUpdateList.Value(), 1);
  for (const ControlRow& row : kControls) {
    if (!row.inFrame) continue;
    const ui::Control* c = form->FindControl(row.name);
    EXPECT_TRUE(c->Visible() && c->Enabled()) << row.name;
  }
  EXPECT_EQ(form->Focused(), &form->cbxUpdateList);
  const ui::ListView& list = form->lvwAsso;
  EXPECT_TRUE(list.ManualLabelEdit());
  EXPECT_TRUE(list.FullRowSelect());
  EXPECT_FALSE(list.HideSelection());
  EXPECT_FALSE(list.HideColumnHeaders());
  EXPECT_TRUE(list.ReportView());
  ASSERT_EQ(list.Columns().size(), 3u);
  EXPECT_EQ(list.Columns()[0].text, "Расширение");
  EXPECT_EQ(list.Columns()[1].text, "Описание");
  EXPECT_EQ(list.Columns()[2].text, "Ассоциация");
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_TRUE(platform.sounds.empty());
}

TEST_F(ManagerTest, TabOrderRunsThroughFocusableControlsByTabIndex) {
  std::vector<std::string> order;
  for (const ui::Control* c : form->TabOrder()) order.push_back(c->Name());
  EXPECT_EQ(order, (std::vector<std::string>{"cbxUpdateList", "cmdCancel", "cmdProceed", "txtTitleRef", "txtFileExt",
                                             "cmdDialogFileSpec", "txtExecutableFileSpec", "cmdAdd", "cmdExit",
                                             "cmdList", "lvwAsso", "cmdA01"}));
  form->FireKey(ui::Key::Tab);
  EXPECT_EQ(form->Focused(), &form->cmdCancel);
}

TEST_F(ManagerTest, PicturesLoadedButtonByButtonFirstFileTwice) {
  const std::string pic = dir.Path() + "/Pic/";
  std::vector<std::string> expected;
  for (const char* pair : {"k01", "k03", "k02", "k04"})
    for (const char* suffix : {"-1.g", "-1.g", "-2.g"}) expected.push_back(pic + pair + suffix);
  for (const char* f : {"Abt1.g", "Abt1.g", "Abt2.g"}) expected.push_back(pic + f);
  EXPECT_EQ(platform.picturesLoaded, expected);
  struct Row {
    const ui::Button* button;
    const char* normal;
    const char* pressed;
  };
  for (const Row& r : {Row{&form->cmdList, "k01-1.g", "k01-2.g"}, Row{&form->cmdAdd, "k03-1.g", "k03-2.g"},
                       Row{&form->cmdDelete, "k02-1.g", "k02-2.g"}, Row{&form->cmdExit, "k04-1.g", "k04-2.g"},
                       Row{&form->cmdA01, "Abt1.g", "Abt2.g"}}) {
    SCOPED_TRACE(r.button->Name());
    ASSERT_TRUE(r.button->Picture() && r.button->DisabledPicture() && r.button->DownPicture());
    EXPECT_EQ(r.button->Picture()->source, pic + r.normal);
    EXPECT_EQ(r.button->DisabledPicture()->source, pic + r.normal);
    EXPECT_NE(r.button->DisabledPicture(), r.button->Picture());  // read twice, not shared
    EXPECT_EQ(r.button->DownPicture()->source, pic + r.pressed);
    EXPECT_TRUE(r.button->Caption().empty());
  }
}

TEST_F(ManagerTest, MissingPictureEndsTheProgramAtThatPicture) {
  std::filesystem::remove(dir.Path() + "/Pic/k02-2.g");
  platform.ClearRecord();
  frmZandrel second(platform, *registry, nullptr, nullptr);
  platform.Dispatch([&] { second.Show(); });
  ASSERT_TRUE(platform.fatalError.has_value());
  EXPECT_NE(platform.fatalError->description.find("k02-2.g"), std::string::npos);
  EXPECT_EQ(platform.picturesLoaded.size(), 9u);
  EXPECT_EQ(platform.picturesLoaded.back(), dir.Path() + "/Pic/k02-2.g");
}

TEST_F(ManagerTest, ResizeRule) {
  const float outer = form->OuterWidth();
  ASSERT_EQ(outer, 8535.0f + 2 * form->BorderTwips());
  // Load set column 3 to outer - 4200; the first display added 200.
  frmZandrel fresh(platform, *registry, nullptr, nullptr);
  fresh.Form_Load();
  EXPECT_EQ(fresh.lvwAsso.Columns()[2].width, outer - 4200.0f);
  EXPECT_EQ(form->lvwAsso.Columns()[2].width, outer - 4000.0f);
  EXPECT_EQ(form->lvwAsso.Columns()[0].width, 1400.0f);
  EXPECT_EQ(form->lvwAsso.Columns()[1].width, 2400.0f);

  // Dragged columns narrow column 3 by as much.
  form->lvwAsso.UserResizedColumn(0, 1900.5f);
  form->Form_Resize();
  EXPECT_EQ(form->lvwAsso.Columns()[2].width, outer - (2400.0f + 1900.5f + 200.0f));
  const float kept = form->lvwAsso.Columns()[2].width;
  form->lvwAsso.UserResizedColumn(1, outer - 1900.5f - 200.0f);  // w reaches the outer width exactly
  form->Form_Resize();
  EXPECT_EQ(form->lvwAsso.Columns()[2].width, kept);

  // A low client area: the floor of 150, reaching below the client area.
  form->SetClientSize(6000.0f, 1229.0f);
  form->Form_Resize();
  EXPECT_EQ(form->lvwAsso.Geometry(), (ui::Rect{0, 1080, 6000, 150}));
  form->SetClientSize(6000.0f, 1231.0f);
  form->Form_Resize();
  EXPECT_EQ(form->lvwAsso.Geometry(), (ui::Rect{0, 1080, 6000, 151}));
  form->SetClientSize(0.0f, 0.0f);  // minimized
  form->Form_Resize();
  EXPECT_EQ(form->lvwAsso.Geometry(), (ui::Rect{0, 1080, 0, 150}));
}

}  // namespace
}  // namespace zandrel::testing
