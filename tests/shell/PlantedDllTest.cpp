// A program started from a folder that holds planted copies of system DLLs
// (winmm.dll and msimg32.dll beside this test, as beside a program run from
// Downloads) still gets Windows' own: winmm's functions are looked up in
// System32 alone, and once the program has called LoadDllsFromSystem32Only
// so is any DLL loaded by name. Wine, which loads its own code for a DLL of
// its own found elsewhere, still names the module by the file it found: the
// folder is what tells.
#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "registry/win32/Win32Api.h"
#include "ui/win32/Win32Internal.h"

namespace zandrel::ui::win32 {
namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The folder of a loaded module (of this program for null), lower-cased.
std::wstring FolderOf(HMODULE module) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  const std::wstring file(path, n < MAX_PATH ? n : 0);
  return Lower(file.substr(0, file.find_last_of(L'\\')));
}

std::wstring SystemFolder() {
  wchar_t path[MAX_PATH];
  const UINT n = GetSystemDirectoryW(path, MAX_PATH);
  return Lower(std::wstring(path, n < MAX_PATH ? n : 0));
}

// Without them the other tests would prove nothing.
TEST(PlantedDll, CopiesStandBesideThisProgram) {
  for (const wchar_t* name : {L"\\winmm.dll", L"\\msimg32.dll"}) {
    SCOPED_TRACE(testing::Message() << name + 1);
    EXPECT_NE(GetFileAttributesW((FolderOf(nullptr) + name).c_str()), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_NE(FolderOf(nullptr), SystemFolder());
}

TEST(PlantedDll, WinmmComesFromSystem32) {
  EXPECT_TRUE(system32::sndPlaySoundA(nullptr, 0));  // stops sounds; the planted copy's answers FALSE
  const HMODULE winmm = GetModuleHandleW(L"winmm.dll");
  ASSERT_NE(winmm, nullptr);
  EXPECT_EQ(FolderOf(winmm), SystemFolder());
}

TEST(PlantedDll, ADllLoadedByNameComesFromSystem32) {
  zandrel::win32::api::LoadDllsFromSystem32Only();
  const HMODULE msimg32 = LoadLibraryW(L"msimg32.dll");
  ASSERT_NE(msimg32, nullptr);
  EXPECT_EQ(FolderOf(msimg32), SystemFolder());
}

// The functions looked up in comctl32 by name are found and do their work: a
// misspelt name would leave the list deaf to its header without an error.
TEST(SystemDlls, ComctlFunctionsAreFound) {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
  EXPECT_TRUE(system32::InitCommonControlsEx(&controls));
  const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const SUBCLASSPROC hear = [](HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR heard) {
    if (msg == WM_APP) ++*reinterpret_cast<int*>(heard);
    return system32::DefSubclassProc(hwnd, msg, wp, lp);
  };
  int heard = 0;
  EXPECT_TRUE(system32::SetWindowSubclass(window, hear, 1, reinterpret_cast<DWORD_PTR>(&heard)));
  SendMessageW(window, WM_APP, 0, 0);
  EXPECT_EQ(heard, 1);
  // Passed on to the window's own procedure: a static control answers its text.
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 0);
  SetWindowTextW(window, L"text");
  EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 4);
  DestroyWindow(window);
}

}  // namespace
}  // namespace zandrel::ui::win32
