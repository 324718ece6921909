// zandrel-desktop-view: the desktop's associations as GIO computes them now,
// for the classes store of the program and zandrel-reg, which run it beside
// themselves whenever the desktop's files have changed.
//   zandrel-desktop-view [--described]
//                                 the view's rows (DesktopView.h's encoding); with
//                                 --described, the types named on standard input
//                                 (each ended by a NUL) come without description
//   zandrel-desktop-view why .E   what decides the program for .E, a step a line
// Status 0 on success, 1 with one line on stderr otherwise.
#include <iostream>
#include <set>
#include <string>

#include "platform/desktop/GioView.h"

int main(int argc, char** argv) {
  using namespace zandrel::desktop;
  const XdgPaths paths = XdgPaths::FromEnvironment();
  if (argc == 1 || (argc == 2 && std::string(argv[1]) == "--described")) {
    std::set<std::string> described;
    if (argc == 2)
      for (std::string type; std::getline(std::cin, type, '\0');) described.insert(type);
    std::cout << EncodeRows(ReadDesktopView(paths, described));
  } else if (argc == 3 && std::string(argv[1]) == "why" && argv[2][0] == '.' && argv[2][1] != '\0') {
    std::cout << ExplainExtension(paths, argv[2]);
  } else {
    std::cerr << "usage: zandrel-desktop-view [--described | why .EXT]\n";
    return 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "zandrel-desktop-view: cannot write the output\n";
    return 1;
  }
  return 0;
}
