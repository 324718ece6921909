// The program: the Qt window system over the program's start (Program.h).
#include "shell/Program.h"
#include "ui/qt/QtPlatform.h"

int main(int argc, char** argv) {
  // The program takes no arguments: Qt is given the program name alone.
  int qtArgc = 1;
  char fallbackName[] = "zandrel";
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  zandrel::ui::qt::QtPlatform platform(qtArgc, qtArgv);
  return zandrel::shell::RunProgram(platform, [&platform] { return platform.Exec(); });
}
