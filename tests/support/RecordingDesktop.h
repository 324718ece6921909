// A desktop (integration/Desktop.h) that records each change it is told to
// follow and answers as a test sets it: `failure` for a committed change,
// `viewError` for its view, `broken` for its own associations that open nothing. What still decides after a change, and
// `why`, are Windows' (windows/WindowsDesktop.h) over the same registry, whose keys a test seeds; its shell is this
// object's record.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "windows/WindowsDesktop.h"

namespace zandrel::testing {

class RecordingDesktop : public integration::Desktop {
 public:
  struct Change {
    std::string extension;
    bool committed = false;
    std::size_t atMessage = 0;  // what `messages()` answered when it came
  };

  // `classes` must outlive this object.
  explicit RecordingDesktop(IRegistry& classes) : classes_(classes), windows_(classes, {}) {}

  IRegistry& Classes() override { return classes_; }
  std::string ViewError() override { return viewError; }
  integration::Followed AfterChange(const std::string& extension, bool committed) override {
    changes.push_back({extension, committed, messages ? messages() : 0});
    return {committed ? failure : "", committed ? failure : ""};
  }
  std::vector<integration::BrokenAssociation> FindBroken(const std::vector<std::string>&) override { return broken; }
  status::Status Explain(const std::string& extension, std::string* out) override {
    return windows_.Explain(extension, out);
  }
  integration::StillDeciding StillDecides(IRegistry& registry, const std::string& extension,
                                          const std::string& title) override {
    return windows_.StillDecides(registry, extension, title);
  }

  // The committed changes' extensions, and where each came among the messages.
  std::vector<std::string> Committed() const {
    std::vector<std::string> extensions;
    for (const Change& change : changes)
      if (change.committed) extensions.push_back(change.extension);
    return extensions;
  }
  std::vector<std::size_t> CommittedAt() const {
    std::vector<std::size_t> at;
    for (const Change& change : changes)
      if (change.committed) at.push_back(change.atMessage);
    return at;
  }

  std::vector<Change> changes;
  std::string failure;                                 // the window's text for a change the desktop did not follow
  std::string viewError;                               // why its view could not be read
  std::vector<integration::BrokenAssociation> broken;  // found among its own, whatever is asked
  std::function<std::size_t()> messages;               // how many messages were shown so far

 private:
  IRegistry& classes_;
  windows::WindowsDesktop windows_;
};

}  // namespace zandrel::testing
