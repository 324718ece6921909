// The stack on Windows: the machine's registry, the crash journal and the
// history; the desktop is Windows itself.
#include "assembly/Stack.h"

#include <utility>

#include "registry/win32/Win32Registry.h"
#include "windows/ShellWin32Api.h"
#include "windows/WindowsDesktop.h"

namespace zandrel::assembly {
namespace {

class WindowsStack : public Stack {
 public:
  explicit WindowsStack(std::unique_ptr<IRegistry> registry)
      : registry_(std::move(registry)), history_(*registry_), desktop_(history_, windows::SystemShell()) {}

  IRegistry& Store() override { return *registry_; }
  capture::HistoryRegistry& History() override { return history_; }
  integration::Desktop& Desktop() override { return desktop_; }

 private:
  std::unique_ptr<IRegistry> registry_;
  capture::HistoryRegistry history_;
  windows::WindowsDesktop desktop_;
};

}  // namespace

status::Status Open(Mode mode, std::unique_ptr<Stack>* stack, const Options&) {
  stack->reset();
  std::unique_ptr<IRegistry> registry;
  if (mode == Mode::kLook) {
    registry = std::make_unique<win32::Win32Registry>();  // reads only: no undo record needed
  } else {
    // A change left half done by a copy that was killed is undone here,
    // before anything is read.
    const status::Status opened = win32::OpenWindowsRegistry(win32::DefaultUndoPlace(), &registry);
    if (!opened.Ok()) return opened;
  }
  *stack = std::make_unique<WindowsStack>(std::move(registry));
  return {};
}

bool StoreExists() { return true; }

// The machine's registry is never made: it is opened as for any change.
status::Status OpenBuilding(const std::function<status::Status(Stack&)>&, bool* built, std::unique_ptr<Stack>* stack) {
  *built = false;
  return Open(Mode::kWrite, stack);
}

std::string OpenFailure(const status::Status& opened) { return opened.message; }

bool DesktopKeepsOwnData() { return false; }

status::Status Project(Stack&, std::string*) {
  return {status::Status::kFailed, "the desktop keeps no association data of its own here"};
}

}  // namespace zandrel::assembly
