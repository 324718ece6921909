#include "ui/headless/HeadlessPlatform.h"

#include <limits>

#include "ui/PictureFile.h"

namespace zandrel::ui::headless {

HeadlessPlatform::HeadlessPlatform() = default;
HeadlessPlatform::~HeadlessPlatform() = default;

void HeadlessPlatform::ClearRecord() {
  messages.clear();
  dialogs.clear();
  sounds.clear();
  shellOpened.clear();
  picturesLoaded.clear();
  pointerChanges.clear();
  doEventsCount = 0;
  paintEventsCount = 0;
  windowEvents.clear();
}

void HeadlessPlatform::Realize(Window& window) {
  windowEvents.push_back("show " + window.Name());
  shown_.push_back(&window);
}

void HeadlessPlatform::Unrealize(Window& window) {
  windowEvents.push_back("close " + window.Name());
  shown_.erase(std::remove(shown_.begin(), shown_.end(), &window), shown_.end());
  for (Timer* t : window.Timers()) timers_.erase(t);
}

void HeadlessPlatform::BringToFront(Window& window) { windowEvents.push_back("front " + window.Name()); }

int HeadlessPlatform::MsgBox(const std::string& text, int flags, const std::string& title) {
  Message m{text, flags, title, 0};
  if (!answers_.empty()) {
    m.answer = answers_.front();
    answers_.pop_front();
  } else {
    const int buttons = flags & MB_TYPEMASK;
    m.answer = buttons == MB_YESNO ? IDNO : buttons == MB_YESNOCANCEL ? IDCANCEL : IDOK;
  }
  if (onMessage) onMessage(m);
  messages.push_back(m);
  return m.answer;
}

void HeadlessPlatform::ShowOpen(CommonDialog& dialog) {
  dialogs.push_back(DialogCall{dialog.Filter, dialog.FilterIndex, dialog.DefaultExt, dialog.Flags, dialog.FileName,
                               dialog.CancelError});
  DialogResult result;
  if (!dialog_results_.empty()) {
    result = dialog_results_.front();
    dialog_results_.pop_front();
  } else {
    result.errorNumber = kCancelErrorNumber;
  }
  if (result.errorNumber == kCancelErrorNumber) {
    if (dialog.CancelError) throw RuntimeError{kCancelErrorNumber, "Cancel was selected."};
    return;
  }
  if (result.errorNumber != 0) throw RuntimeError{result.errorNumber, result.description};
  dialog.FileName = result.fileName;
}

void HeadlessPlatform::SetMousePointer(int pointer) {
  pointer_ = pointer;
  pointerChanges.push_back(pointer);
}

PicturePtr HeadlessPlatform::LoadPicture(const std::string& path) {
  picturesLoaded.push_back(path);
  return ReadPictureFile(path);
}

std::int32_t HeadlessPlatform::sndPlaySoundA(const char* path, std::uint32_t flags) {
  sounds.push_back(Sound{path != nullptr ? path : "", flags});
  return 1;
}

void HeadlessPlatform::Fatal(const RuntimeError& error) {
  fatalError = error;
  messages.push_back(Message{error.description, MB_OK, kAppTitle, IDOK});
  quit = true;
}

void HeadlessPlatform::AdvanceTime(std::int64_t ms) {
  const std::int64_t end = now_ms_ + ms;
  for (;;) {
    // Pick the running timer that is due first; ties go by window and timer order.
    Timer* next = nullptr;
    std::int64_t next_due = std::numeric_limits<std::int64_t>::max();
    for (Window* w : shown_) {
      for (Timer* t : w->Timers()) {
        if (!t->Running()) {
          timers_.erase(t);
          continue;
        }
        auto [it, added] = timers_.try_emplace(t, TimerState{now_ms_ + t->EffectiveInterval()});
        (void)added;
        if (it->second.due < next_due) {
          next_due = it->second.due;
          next = t;
        }
      }
    }
    if (next == nullptr || next_due > end || quit) break;
    now_ms_ = next_due;
    timers_[next].due = next_due + next->EffectiveInterval();
    next->FireTick();
  }
  if (!quit) now_ms_ = end;
}

}  // namespace zandrel::ui::headless
