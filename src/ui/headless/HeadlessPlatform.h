// The window system without a screen, for tests: controls keep their state in
// memory (they need no peers), message boxes answer from a script and are
// recorded, the file dialog returns scripted results, timers tick on a clock
// the test advances, and every service call is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/Platform.h"
#include "ui/Window.h"

namespace zandrel::ui::headless {

class HeadlessPlatform : public Platform {
 public:
  struct Message {
    std::string text;
    int flags = 0;
    std::string title;
    int answer = 0;
  };
  struct DialogCall {
    std::string filter;
    int filterIndex = 0;
    std::string defaultExt;
    std::int32_t flags = 0;
    std::string fileName;
    bool cancelError = false;
  };
  struct DialogResult {
    std::string fileName;          // used when errorNumber is 0
    std::int32_t errorNumber = 0;  // 0: a file was chosen
    std::string description;
  };
  struct Sound {
    std::string path;
    std::uint32_t flags = 0;
  };
  HeadlessPlatform();
  ~HeadlessPlatform() override;

  // --- The script -------------------------------------------------------
  // Answers for the next message boxes, in order. With none left, a box
  // answers IDOK (MB_OK), IDNO (MB_YESNO) or IDCANCEL (MB_YESNOCANCEL).
  void AnswerNext(int answer) { answers_.push_back(answer); }
  // Called as each message box shows, before it answers: lets a test look at
  // the state of the program while the box waits for the user.
  std::function<void(const Message&)> onMessage;
  // Called at each DoPaintEvents: lets a test act while the program waits.
  std::function<void()> onPaintEvents;
  void DialogNext(DialogResult result) { dialog_results_.push_back(std::move(result)); }
  void SetExecutableFolder(std::string folder) { exe_folder_ = std::move(folder); }

  // --- The record -------------------------------------------------------
  std::vector<Message> messages;
  std::vector<DialogCall> dialogs;
  std::vector<Sound> sounds;
  std::vector<std::string> shellOpened;     // OpenWithShell targets
  std::vector<std::string> picturesLoaded;  // paths, in load order
  std::vector<int> pointerChanges;
  int doEventsCount = 0;
  int paintEventsCount = 0;
  // Window events in order: "show NAME", "front NAME", "close NAME".
  std::vector<std::string> windowEvents;
  std::optional<RuntimeError> fatalError;  // set when an error ended the program
  bool quit = false;                       // the program has ended
  void ClearRecord();

  // --- Time -------------------------------------------------------------
  // Advances the clock, firing every running timer of every shown window when
  // its period is due, in the order of their due times.
  void AdvanceTime(std::int64_t ms);
  std::int64_t Now() const { return now_ms_; }

  // --- Platform ---------------------------------------------------------
  void Realize(Window& window) override;
  void Unrealize(Window& window) override;
  void BringToFront(Window& window) override;
  int MsgBox(const std::string& text, int flags, const std::string& title) override;
  void ShowOpen(CommonDialog& dialog) override;
  void SetMousePointer(int pointer) override;
  int MousePointer() const override { return pointer_; }
  void DoEvents() override { ++doEventsCount; }
  void DoPaintEvents() override {
    ++paintEventsCount;
    if (onPaintEvents) onPaintEvents();
  }
  std::int64_t TickCount() const override { return now_ms_; }
  PicturePtr LoadPicture(const std::string& path) override;
  std::int32_t sndPlaySoundA(const char* path, std::uint32_t flags) override;
  void OpenWithShell(const std::string& target) override { shellOpened.push_back(target); }
  std::string ExecutableFolder() override { return exe_folder_; }
  void Fatal(const RuntimeError& error) override;
  void Quit() override { quit = true; }

 private:
  struct TimerState {
    std::int64_t due = 0;
  };
  std::deque<int> answers_;
  std::deque<DialogResult> dialog_results_;
  std::string exe_folder_;
  int pointer_ = kPointerDefault;
  std::int64_t now_ms_ = 0;
  std::vector<Window*> shown_;
  std::map<Timer*, TimerState> timers_;
};

}  // namespace zandrel::ui::headless
