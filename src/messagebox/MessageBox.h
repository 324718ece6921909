// Message box flags and answers, as the Win32 ones: the store asks its
// questions with them and every window system answers with them.
#pragma once

namespace zandrel {

inline constexpr int MB_OK = 0x0;
inline constexpr int MB_YESNOCANCEL = 0x3;
inline constexpr int MB_YESNO = 0x4;
inline constexpr int MB_TYPEMASK = 0xF;   // the buttons part of the flags
inline constexpr int MB_ICONMASK = 0xF0;  // the icon part
inline constexpr int MB_ICONSTOP = 0x10;
inline constexpr int MB_ICONQUESTION = 0x20;
inline constexpr int MB_ICONEXCLAMATION = 0x30;
inline constexpr int MB_ICONINFORMATION = 0x40;
inline constexpr int MB_DEFMASK = 0xF00;     // which button Enter presses
inline constexpr int MB_DEFBUTTON2 = 0x100;  // the second (No of Yes/No, and of Yes/No/Cancel)
inline constexpr int MB_DEFBUTTON3 = 0x200;  // the third (Cancel of Yes/No/Cancel)
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

}  // namespace zandrel
