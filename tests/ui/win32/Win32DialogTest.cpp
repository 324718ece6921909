// The file dialog holds every window of the program, not only its owner, and
// gives them back when it closes. Real windows need a display: under Wine the
// ctest entry win32ui.OnADisplay runs this on a virtual one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "ui/win32/Win32Internal.h"

namespace zandrel::ui::win32 {
namespace {

// This thread's top-level windows of a class: the program's, or "#32770" for dialogs.
std::vector<HWND> WindowsOf(const char* window_class) {
  struct Search {
    std::string window_class;
    std::vector<HWND> found;
  } search{window_class, {}};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM data) {
        auto* search = reinterpret_cast<Search*>(data);
        char name[64] = "";
        GetClassNameA(hwnd, name, sizeof name);
        if (name == search->window_class) search->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<bool> enabledDuringDialog;

TEST(Win32OnDisplay, TheFileDialogHoldsEveryWindowOfTheProgram) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display: run by win32ui.OnADisplay";
  Win32Platform platform;
  Window manager(platform, "manager"), confirmation(platform, "confirmation");
  for (Window* window : {&manager, &confirmation}) {
    window->SetClientSize(3000, 2000);
    window->Show();
  }
  const std::vector<HWND> windows = WindowsOf(kWindowClass);
  ASSERT_EQ(windows.size(), 2u);
  SetActiveWindow(windows[0]);
  // Looks once the dialog is open, then cancels it.
  SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR id, DWORD) {
    const std::vector<HWND> dialogs = WindowsOf("#32770");
    if (dialogs.empty()) return;
    KillTimer(nullptr, id);
    for (HWND top : WindowsOf(kWindowClass)) enabledDuringDialog.push_back(IsWindowEnabled(top) != FALSE);
    PostMessageA(dialogs.front(), WM_COMMAND, IDCANCEL, 0);
  });
  CommonDialog dialog(manager);
  dialog.ShowOpen();
  EXPECT_EQ(enabledDuringDialog, (std::vector<bool>{false, false}));
  for (HWND top : windows) EXPECT_TRUE(IsWindowEnabled(top));
}

}  // namespace
}  // namespace zandrel::ui::win32
