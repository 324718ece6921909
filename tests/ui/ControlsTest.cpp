// The controls model: focus and keys, and picture files recognised by their
// content, with a run-time error for anything else.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ui/PictureFile.h"
#include "ui/headless/HeadlessPlatform.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

using namespace zandrel::ui;
using zandrel::ui::headless::HeadlessPlatform;

TEST(Controls, FocusGoesOnlyWhereTheUserCanTypeOrPress) {
  HeadlessPlatform platform;
  Window w(platform, "frmTest");
  Frame frame(w, nullptr, "fra");
  CheckBox check(w, &frame, "cbx");
  Label label(w, nullptr, "lbl");
  TextBox text(w, &frame, "txt");
  Button button(w, nullptr, "cmd"), hidden(w, nullptr, "cmdHidden");
  int clicks = 0;
  button.Click = [&] { ++clicks; };
  hidden.Click = [&] { clicks += 100; };
  Control* order[] = {&frame, &label, &hidden, &check, &text, &button};
  for (int i = 0; i < 6; ++i) order[i]->SetTabIndex(i);
  hidden.SetVisible(false);
  std::string shortcuts;
  w.SetShortcut(Key::CtrlZ, [&] { shortcuts += 'z'; });
  w.SetShortcut(Key::CtrlY, [&] { shortcuts += 'y'; });
  w.Show();
  EXPECT_EQ(w.Focused(), &check) << "frames, labels and hidden controls are passed over";
  w.FireKey(Key::Tab);
  w.FireKey(Key::Tab);
  EXPECT_EQ(w.Focused(), &button);
  for (Key key : {Key::Enter, Key::Space, Key::Escape}) w.FireKey(key);
  EXPECT_EQ(clicks, 2) << "Enter and Space press the focused button, Escape nothing";
  EXPECT_FALSE(hidden.FireClick());
  w.FireKey(Key::CtrlZ);
  w.FireKey(Key::CtrlY);
  w.FireKey(Key::BackTab);
  EXPECT_EQ(w.Focused(), &text);
  w.FireKey(Key::CtrlZ);
  w.FireKey(Key::CtrlY);
  EXPECT_EQ(shortcuts, "zy") << "a text box keeps Ctrl+Z and Ctrl+Y";
  button.SetEnabled(false);
  button.SetFocus();
  EXPECT_EQ(w.Focused(), &text) << "a disabled button refuses the focus";
  EXPECT_FALSE(button.FireClick());
  frame.SetVisible(false);
  w.FireKey(Key::Tab);
  EXPECT_EQ(w.Focused(), &text) << "nothing else can take it";
}

TEST(Controls, PicturesAreReadByTheirContent) {
  TempDir dir;
  auto jpeg = [](int w, int h) {
    return std::string("\xFF\xD8\xFF\xE0\x00\x04JF\xFF\xC0\x00\x11\x08", 13) + char(h >> 8) + char(h) + char(w >> 8) +
           char(w) + '\x03';
  };
  std::string bmp(54, '\0');
  bmp.replace(0, 2, "BM");
  bmp[18] = 12, bmp[22] = '\xF6', bmp[23] = bmp[24] = bmp[25] = '\xFF';  // 12 x -10: bottom-up
  const struct {
    const char* name;
    std::string bytes;
    std::string format;  // or the error number
    int w = 0, h = 0;
  } rows[] = {
      {"k01-1.g", TinyPng(99, 33), "png", 99, 33},
      {"J-1.j", jpeg(553, 449), "jpeg", 553, 449},
      {"png-named.j", TinyPng(7, 5), "png", 7, 5},
      {"anim.g", std::string("GIF89a(\0\x1e\0\0", 11), "gif", 40, 30},
      {"bottom-up.g", bmp, "bmp", 12, 10},
      {"empty.g", "", "481"},
      {"text.g", "hello", "481"},
      {"cut.g", TinyPng(1, 1).substr(0, 12), "481"},
      {"cut.j", jpeg(10, 10).substr(0, 12), "481"},
      {"zero.g", TinyPng(0, 5), "481"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.Write(row.name, row.bytes);
    try {
      const PicturePtr p = ReadPictureFile(path);
      EXPECT_EQ(p->format + " " + std::to_string(p->widthPx) + "x" + std::to_string(p->heightPx),
                row.format + " " + std::to_string(row.w) + "x" + std::to_string(row.h));
      EXPECT_EQ(std::string(p->bytes.begin(), p->bytes.end()), row.bytes);
    } catch (const RuntimeError& e) {
      EXPECT_EQ(std::to_string(e.number), row.format);
      EXPECT_NE(e.description.find(path), std::string::npos) << e.description;
    }
  }
  for (const auto& [path, number] : {std::pair<std::string, int>{dir.File("absent.g"), 53}, {dir.Path(), 481}}) {
    try {
      ReadPictureFile(path);
      ADD_FAILURE() << path << " read as a picture";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number, number);
    }
  }
}

TEST(ListView, TypingSelectsTheRowWhoseFirstColumnBeginsWithIt) {
  HeadlessPlatform platform;
  Window w(platform, "frmTest");
  ListView list(w, nullptr, "lvw");
  list.SetItems({{".bat", {"txtfile"}}, {".txt", {}}, {".Tx2", {}}, {".zip", {}}});
  const struct {
    const char* typed;
    long from, selected;
    bool found;
  } rows[] = {
      {".tx", 0, 1, true},  {".TX2", 0, 2, true},  // letters without case
      {".tx", 2, 2, true},                         // the selected row still fits
      {".tx", 3, 1, true},                         // from the top again
      {".", 0, 1, true},    {"..", 3, 0, true},    // one key repeated steps to the next
      {"txt", 0, 0, false},                        // the first column only, from its start
      {".q", 1, 1, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.typed) + " from " + std::to_string(row.from));
    list.Select(row.from);
    EXPECT_EQ(list.UserTyped(row.typed), row.found);
    EXPECT_EQ(list.SelectedIndex(), row.selected);
  }
}

TEST(ListView, AClickOnAColumnHeaderSortsByIt) {
  HeadlessPlatform platform;
  Window w(platform, "frmTest");
  ListView list(w, nullptr, "lvw");
  for (const char* column : {"Расширение", "Описание", "Ассоциация", "Путь"}) list.AddColumn(column, 1000);
  list.SetItems(
      {{".b", {"Zeta", "c"}}, {".a", {"alpha", "b", "x"}}, {".C", {"Beta", "a"}}, {".d", {"beta", "d", "w"}}});
  list.Select(0);
  auto order = [&list] {
    std::string texts;
    for (const ListItem& item : list.Items()) texts += item.text;
    return texts;
  };
  const struct {
    std::size_t clicked;
    const char* order;
    bool descending;
  } rows[] = {
      {1, ".a.C.d.b", false},                          // letters without case; equal texts keep their order
      {1, ".b.C.d.a", true},                           // the same header again: the other way round
      {0, ".a.b.C.d", false}, {3, ".b.C.d.a", false},  // a row without the column's text sorts as an empty one
      {2, ".C.a.b.d", false}, {7, ".C.a.b.d", false},  // no such column
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.clicked);
    list.UserClickedColumn(row.clicked);
    EXPECT_EQ(order(), row.order);
    EXPECT_EQ(list.SortDescending(), row.descending);
    ASSERT_NE(list.SelectedItem(), nullptr);
    EXPECT_EQ(list.SelectedItem()->text, ".b") << "the selected row stays selected";
  }
  EXPECT_EQ(list.SortColumn(), 2);
  list.SetItems({{".y", {"", "2"}}, {".x", {"", "1"}}});
  EXPECT_EQ(order(), ".x.y") << "a new listing keeps the order chosen";
}

TEST(Dispatch, AForeignExceptionPassesThroughAndTheNextHandlerIsOutermost) {
  HeadlessPlatform platform;
  EXPECT_THROW(platform.Dispatch([] { throw std::runtime_error("foreign"); }), std::runtime_error);
  platform.Dispatch([] { throw RuntimeError{481, "Invalid picture"}; });
  ASSERT_TRUE(platform.fatalError.has_value());
  EXPECT_EQ(platform.fatalError->number, 481);
}

}  // namespace
}  // namespace zandrel::testing
