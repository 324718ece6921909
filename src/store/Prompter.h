// How the store talks to the user: modal message boxes with Win32 flags,
// answered with Win32 button codes. The manager window implements it over its
// platform's message box (caption "Zandrel"); the store knows nothing of
// windows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "messagebox/MessageBox.h"

namespace zandrel::store {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Shows `text` and waits for the user; returns the button pressed.
  virtual int MsgBox(const std::string& text, int flags) = 0;
  // Opens Windows' Settings at the default apps page, where only the user
  // may change the program a file type opens with; a window system without
  // one records the request. A prompter with no window system ignores it.
  virtual void OpenDefaultAppsSettings() {}
};

// Holds OK-only messages back while the registry is locked, so that no box
// waits for the user inside a transaction; Flush shows them afterwards, in the
// order they were given. Only for messages that ask nothing: each answers IDOK.
class QueuedPrompter : public Prompter {
 public:
  int MsgBox(const std::string& text, int flags) override {
    queued_.emplace_back(text, flags);
    return IDOK;
  }
  void Flush(Prompter& to) {
    auto pending = std::move(queued_);
    queued_.clear();
    for (const auto& [text, flags] : pending) to.MsgBox(text, flags);
  }
  bool Empty() const { return queued_.empty(); }

 private:
  std::vector<std::pair<std::string, int>> queued_;
};

}  // namespace zandrel::store
