// The program on Windows: the Win32 window system, the machine's own
// registry, and the splash window. As on Linux, everything else is driven by
// the windows; the process ends when the last of them closes, or when an
// uncaught error has been shown.
#include <memory>
#include <string>

#include "manager/frmZandrel.h"
#include "registry/win32/Win32Api.h"
#include "registry/win32/Win32Registry.h"
#include "ui/win32/Win32Platform.h"
#include "shell/Forms.h"
#include "capture/HistoryRegistry.h"

int main() {
  zandrel::win32::api::LoadDllsFromSystem32Only();
  zandrel::ui::win32::Win32Platform platform;

  // A change left half done by a copy that was killed is undone here, before
  // anything is listed.
  std::unique_ptr<zandrel::IRegistry> registry;
  const zandrel::status::Status opened =
      zandrel::win32::OpenWindowsRegistry(zandrel::win32::DefaultUndoPlace(), &registry);
  if (!opened.Ok()) {
    // The stop icon, as the end on a run-time error shows.
    platform.MsgBox("Не удаётся открыть реестр: " + opened.message, zandrel::MB_OK | zandrel::MB_ICONSTOP);
    return 1;
  }

  // Every committed change is kept in the machine's history, so that it can be undone.
  zandrel::capture::HistoryRegistry history(*registry);
  zandrel::shell::Forms forms(platform, history,
                              zandrel::manager::frmZandrel::CreatorWith(&history));
  platform.Dispatch([&forms] { forms.ShowSplash(); });
  return platform.Exec();
}
