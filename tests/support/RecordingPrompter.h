// A prompter for store tests: answers from a script (IDOK for an OK box,
// IDNO for a question once the script is empty) and records every box.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "store/Prompter.h"

namespace zandrel::testing {

class RecordingPrompter : public store::Prompter {
 public:
  struct Box {
    std::string text;
    int flags;
    bool operator==(const Box&) const = default;
  };
  void AnswerNext(int answer) { answers_.push_back(answer); }
  // Runs as each box shows, before it answers.
  std::function<void(const Box&)> onShow;
  std::vector<Box> boxes;
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Box& b : boxes) texts.push_back(b.text);
    return texts;
  }

  int MsgBox(const std::string& text, int flags) override {
    Box box{text, flags};
    if (onShow) onShow(box);
    boxes.push_back(box);
    if (!answers_.empty()) {
      int answer = answers_.front();
      answers_.pop_front();
      return answer;
    }
    return (flags & 0xF) == store::kMbYesNo ? 7 : store::kIdOk;
  }

 private:
  std::deque<int> answers_;
};

}  // namespace zandrel::testing
