// The headless realisation's scripts and records, and picture recognition.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/headless/HeadlessPlatform.h"
#include "platform/ui/PictureFile.h"

namespace zandrel::ui {
namespace {

namespace fs = std::filesystem;

class PictureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zandrel-pic-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  fs::path dir_;
};

std::vector<std::uint8_t> PngHeader(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (std::uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
  b.insert(b.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});
  return b;
}

std::vector<std::uint8_t> JpegHeader(std::uint16_t w, std::uint16_t h) {
  return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J', 'F',  // APP0 segment, length 4
          0xFF, 0xC0, 0x00, 0x11, 0x08, static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h),
          static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w), 0x03};
}

TEST_F(PictureFiles, FormatComesFromContentNotFromTheName) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* format;
    int w, h;
  };
  std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 40, 0, 30, 0, 0};
  std::vector<std::uint8_t> bmp(54, 0);
  bmp[0] = 'B'; bmp[1] = 'M'; bmp[18] = 12; bmp[22] = 0xF6; bmp[23] = 0xFF; bmp[24] = 0xFF; bmp[25] = 0xFF;
  const Row rows[] = {
      {"k01-1.g", PngHeader(99, 33), "png", 99, 33},
      {"J-1.j", JpegHeader(553, 449), "jpeg", 553, 449},
      {"png-named.j", PngHeader(7, 5), "png", 7, 5},
      {"anim.g", gif, "gif", 40, 30},
      {"bottom-up.g", bmp, "bmp", 12, 10},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PicturePtr p = ReadPictureFile(Write(row.name, row.bytes));
    EXPECT_EQ(p->format, row.format);
    EXPECT_EQ(p->widthPx, row.w);
    EXPECT_EQ(p->heightPx, row.h);
    EXPECT_EQ(p->bytes, row.bytes);
  }
}

TEST_F(PictureFiles, MissingAndUnreadableFilesAreRunTimeErrors) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    int number;
  };
  std::vector<std::uint8_t> cut_jpeg = JpegHeader(10, 10);
  cut_jpeg.resize(12);
  std::vector<std::uint8_t> cut_png = PngHeader(1, 1);
  cut_png.resize(12);
  const Row rows[] = {
      {"empty.g", {}, 481},
      {"text.g", {'h', 'e', 'l', 'l', 'o'}, 481},
      {"cut-png.g", cut_png, 481},
      {"cut-jpeg.j", cut_jpeg, 481},
      {"zero-size.g", PngHeader(0, 5), 481},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string path = Write(row.name, row.bytes);
    try {
      ReadPictureFile(path);
      ADD_FAILURE() << "loaded";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number, row.number);
      EXPECT_NE(e.description.find(path), std::string::npos) << e.description;
    }
  }
  try {
    ReadPictureFile((dir_ / "absent.g").string());
    ADD_FAILURE() << "loaded";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number, 53);
  }
  try {
    ReadPictureFile(dir_.string());
    ADD_FAILURE() << "a folder loaded as a picture";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number, 481);
  }
}

TEST(HeadlessMessages, AnswersFromScriptThenDefaultsAndRecordsEverything) {
  HeadlessPlatform p;
  p.AnswerNext(IDYES);
  EXPECT_EQ(p.MsgBox("q1", MB_YESNO | MB_ICONQUESTION, kAppTitle), IDYES);
  EXPECT_EQ(p.MsgBox("q2", MB_YESNO | MB_ICONQUESTION, kAppTitle), IDNO);
  EXPECT_EQ(p.MsgBox("note", MB_OK, kAppTitle), IDOK);
  ASSERT_EQ(p.messages.size(), 3u);
  EXPECT_EQ(p.messages[0].flags, 0x24);
  EXPECT_EQ(p.messages[2].text, "note");
  EXPECT_EQ(p.messages[2].title, "Zandrel");
}

TEST(HeadlessDialog, CancelRaisesErrorOnlyWithCancelErrorAndOtherErrorsPassThrough) {
  HeadlessPlatform p;
  struct W : Window {
    explicit W(Platform& pl) : Window(pl, "w") {}
  } w(p);
  CommonDialog d(w);
  d.CancelError = true;
  try {
    d.ShowOpen();
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number, 32755);
  }
  d.CancelError = false;
  d.FileName = "kept";
  d.ShowOpen();
  EXPECT_EQ(d.FileName, "kept");
  p.DialogNext({"", 20476, "Invalid filename"});
  try {
    d.ShowOpen();
    ADD_FAILURE();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number, 20476);
    EXPECT_EQ(e.description, "Invalid filename");
  }
  p.DialogNext({"/usr/bin/prog", 0, ""});
  d.ShowOpen();
  EXPECT_EQ(d.FileName, "/usr/bin/prog");
  EXPECT_EQ(p.dialogs.size(), 4u);
}

TEST(HeadlessShell, RecordsTheIntegersTheNotificationItemsPointAt) {
  HeadlessPlatform p;
  std::int32_t zero = 0;
  p.SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, &zero, &zero);
  ASSERT_EQ(p.shellNotifies.size(), 1u);
  EXPECT_EQ(p.shellNotifies[0].eventId, 0x08000000);
  EXPECT_EQ(p.shellNotifies[0].item1, 0);
  EXPECT_EQ(p.shellNotifies[0].item2, 0);
}

}  // namespace
}  // namespace zandrel::ui
