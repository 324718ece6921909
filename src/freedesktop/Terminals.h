// The terminals GIO (2.74) looks for, in its order, to run a program whose
// entry says Terminal=true, each with the option after which it takes the
// command to run. With none installed such a program opens nothing.
#pragma once

#include <utility>

namespace zandrel::freedesktop {

inline constexpr std::pair<const char*, const char*> kTerminals[] = {{"gnome-terminal", "--"}, {"mate-terminal", "-x"},
                                                                     {"xfce4-terminal", "-x"}, {"tilix", "-e"},
                                                                     {"konsole", "-e"},        {"nxterm", "-e"},
                                                                     {"color-xterm", "-e"},    {"rxvt", "-e"},
                                                                     {"dtterm", "-e"},         {"xterm", "-e"}};

}  // namespace zandrel::freedesktop
