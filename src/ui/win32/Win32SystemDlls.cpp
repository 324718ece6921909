#include "ui/win32/Win32Internal.h"

#include <mmsystem.h>

namespace zandrel::ui::win32::system32 {

namespace {

// The function `name` of the system's own `dll`, from System32 alone, or
// null. The DLL stays loaded for the life of the process.
template <typename Function>
Function Find(const wchar_t* dll, const char* name) {
  HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  // Through the one function type -Wcast-function-type lets any other become.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

BOOL sndPlaySoundA(LPCSTR sound, UINT flags) {
  static const auto play = Find<decltype(&::sndPlaySoundA)>(L"winmm.dll", "sndPlaySoundA");
  return play != nullptr && play(sound, flags);
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
  static const auto init = Find<decltype(&::InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx");
  return init != nullptr && init(controls);
}

BOOL SetWindowSubclass(HWND hwnd, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data) {
  static const auto set = Find<decltype(&::SetWindowSubclass)>(L"comctl32.dll", "SetWindowSubclass");
  return set != nullptr && set(hwnd, proc, id, data);
}

LRESULT DefSubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  static const auto pass = Find<decltype(&::DefSubclassProc)>(L"comctl32.dll", "DefSubclassProc");
  // Only a subclass calls it, and none is set without comctl32.
  return pass != nullptr ? pass(hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace zandrel::ui::win32::system32
