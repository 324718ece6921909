/* A stand-in for a program associated with an extension: appends the file it
   was asked to open to "marker.out" beside itself, so that a test sees the
   shell really started it. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  char path[MAX_PATH + 16];
  DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
  char* slash = strrchr(path, '\\');
  if (n == 0 || n >= MAX_PATH || slash == NULL) return 2;
  strcpy(slash + 1, "marker.out");
  FILE* out = fopen(path, "a");
  if (out == NULL) return 1;
  fprintf(out, "%s\n", argc > 1 ? argv[1] : "");
  return fclose(out) == 0 ? 0 : 1;
}
