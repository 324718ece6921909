// The list gives its control each row's whole text: a long command and a
// Cyrillic description arrive uncut, however small the control's buffer.
#include <gtest/gtest.h>

#include <string>

#include "ui/win32/Win32Internal.h"

namespace zandrel::ui::win32 {
namespace {

std::string Utf8(const wchar_t* text) {
  const int units = static_cast<int>(std::wcslen(text));
  std::string out(static_cast<std::size_t>(units) * 3, '\0');
  out.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(),
                                                          static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

TEST(Win32ListText, TheControlGetsTheWholeText) {
  std::string description;
  while (description.size() < 700) description += "Документ «Зандрел» ";
  const std::string command = "\"C:\\Program Files\\" + std::string(400, 'p') + "\\viewer.exe\" \"%1\"";
  DisplayTexts texts;
  wchar_t buffer[260] = L"";
  for (const std::string& text : {description, command, std::string(), description}) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 260;
    texts.Give(item, text);
    EXPECT_EQ(Utf8(item.pszText), text);
  }
}

}  // namespace
}  // namespace zandrel::ui::win32
