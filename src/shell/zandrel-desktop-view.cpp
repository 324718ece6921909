// zandrel-desktop-view: the desktop's associations as GIO computes them now,
// for the classes store of the program and zandrel-reg, which run it beside
// themselves whenever the desktop's files have changed.
//   zandrel-desktop-view [--request]
//                                 the view's rows (DesktopView.h's encoding); with
//                                 --request, standard input holds records ended by a
//                                 NUL: "d" and a type whose description the caller
//                                 has, "k" and a type of a changed mimeapps.list line
//                                 (then only what those can change is computed)
//   zandrel-desktop-view why .E   what decides the program for .E, a step a line
// Status 0 on success, 1 with one line on stderr otherwise.
#include <iostream>
#include <set>
#include <string>

#include "freedesktop/GioView.h"

// For LeakSanitizer builds: GIO keeps its MIME tables for the life of the
// process and never frees them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libgio-2.0.so\n"; }

int main(int argc, char** argv) {
  using namespace zandrel::freedesktop;
  const XdgPaths paths = XdgPaths::FromEnvironment();
  if (argc == 1 || (argc == 2 && std::string(argv[1]) == "--request")) {
    std::set<std::string> described, changed;
    bool partial = false;
    if (argc == 2)
      for (std::string record; std::getline(std::cin, record, '\0');) {
        if (record.empty()) continue;
        if (record[0] == 'd') described.insert(record.substr(1));
        if (record[0] == 'k') changed.insert(record.substr(1));
        partial = partial || record[0] == 'k';
      }
    std::cout << EncodeRows(ReadDesktopView(paths, described, partial ? &changed : nullptr));
  } else if (argc == 3 && std::string(argv[1]) == "why" && argv[2][0] == '.' && argv[2][1] != '\0') {
    std::cout << ExplainExtension(paths, argv[2]);
  } else {
    std::cerr << "usage: zandrel-desktop-view [--request | why .EXT]\n";
    return 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "zandrel-desktop-view: cannot write the output\n";
    return 1;
  }
  return 0;
}
