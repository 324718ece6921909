/* A planted copy of a system DLL, built as winmm.dll and as msimg32.dll
   beside a test program: a program that took it from its own folder would
   run this instead of Windows' own. Its sndPlaySoundA answers FALSE, where
   winmm's answers TRUE to a call that stops sounds. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

__declspec(dllexport) BOOL WINAPI sndPlaySoundA(LPCSTR sound, UINT flags) {
  (void)sound;
  (void)flags;
  return FALSE;
}
