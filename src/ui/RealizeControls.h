// The order in which a realisation puts a window's controls on screen:
// containers first, so that every control finds its container's handle.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "ui/Window.h"

namespace zandrel::ui {

// Makes every control of `window` through `make(Control&, Handle parent)`,
// which makes one under `parent` (`top` for a control in no container) and
// returns its handle, or a null handle when it cannot be made. Controls are
// made in registration order, each as soon as its container is made; those
// inside a container that was not made, or that lies outside this window, are
// not made. Returns the handles made.
template <typename Handle, typename Make>
std::map<const Control*, Handle> RealizeControls(const Window& window, Handle top, Make make) {
  std::map<const Control*, Handle> handles;
  std::vector<Control*> pending(window.Controls().begin(), window.Controls().end());
  while (!pending.empty()) {
    std::vector<Control*> later;
    for (Control* c : pending) {
      Handle parent = top;
      if (c->Container() != nullptr) {
        auto it = handles.find(c->Container());
        if (it == handles.end()) {
          later.push_back(c);
          continue;
        }
        parent = it->second;
      }
      if (Handle made = make(*c, parent)) handles[c] = made;
    }
    if (later.size() == pending.size()) break;
    pending = std::move(later);
  }
  return handles;
}

}  // namespace zandrel::ui
