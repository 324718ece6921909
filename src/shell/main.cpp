// The program: the Qt window system, the registry hive, and the splash
// window. Everything else is driven by the windows; the process ends when the
// last of them closes, or when an uncaught error has been shown.
#include <iostream>
#include <memory>
#include <set>
#include <string>

#include "manager/frmZandrel.h"
#include "desktop/DesktopClasses.h"
#include "desktop/DesktopProjection.h"
#include "registry/hive/Hive.h"
#include "ui/qt/QtPlatform.h"
#include "shell/Forms.h"
#include "capture/HistoryRegistry.h"

int main(int argc, char** argv) {
  // The program takes no arguments: Qt is given the program name alone.
  int qtArgc = 1;
  char fallbackName[] = "zandrel";
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  zandrel::ui::qt::QtPlatform platform(qtArgc, qtArgv);

  std::unique_ptr<zandrel::hive::HiveRegistry> hive;
  const zandrel::status::Status opened = zandrel::hive::OpenDefaultHive(&hive);
  if (!opened.Ok()) {
    const std::string path = zandrel::hive::DefaultHivePath();
    std::string error = opened.message;
    if (error.find(path) == std::string::npos) error = path + ": " + error;
    // The stop icon, as the end on a run-time error shows.
    platform.MsgBox("Не удаётся открыть реестр: " + error, zandrel::MB_OK | zandrel::MB_ICONSTOP);
    return 1;
  }

  // The classes store the windows see: the hive over the desktop's own
  // associations. A view that cannot be read leaves the hive's own rows, and
  // the list says why (DesktopViewError); so does stderr, here.
  const zandrel::desktop::XdgPaths paths = zandrel::desktop::XdgPaths::FromEnvironment();
  zandrel::desktop::ViewReader helper =
      zandrel::desktop::HelperReader(zandrel::desktop::HelperBesideProgram());
  // Every committed change is kept in the hive's history, so that it can be undone.
  zandrel::capture::HistoryRegistry history(*hive);
  zandrel::desktop::DesktopClasses classes(history, paths, [helper](const zandrel::desktop::ViewRequest& request,
                                                                   std::string* why) {
    auto rows = helper(request, why);
    if (!rows) std::cerr << "zandrel: desktop associations: " << *why << "\n";
    return rows;
  });

  // The desktop's own association data follows every committed change, from
  // the hive alone: what the desktop holds already is not written back.
  platform.SetAssociationsChangedHandler([&hive](const std::string& extension) {
    const zandrel::desktop::ProjectionReport report =
        zandrel::desktop::ProjectAssociations(*hive, zandrel::desktop::XdgPaths::FromEnvironment());
    if (!report.status.Ok()) std::cerr << "zandrel: desktop associations: " << report.status.message << "\n";
    return zandrel::desktop::FailureMessage(report, extension);
  });

  zandrel::shell::Forms forms(platform, classes,
                              zandrel::manager::frmZandrel::CreatorWith(&history));
  platform.Dispatch([&forms] { forms.ShowSplash(); });
  return platform.Exec();
}
