#include <filesystem>
#include <stdexcept>

#include "registry/win32/Win32Registry.h"
#include "support/Backends.h"
#include "support/Win32Support.h"

namespace zandrel::testing {

const std::vector<Backend>& Backends() {
  static const std::vector<Backend> backends = [] {
    // The machine's registry, as the program opens it, on the sandbox named
    // after the folder, whose undo record the folder holds.
    auto reopen = [](const std::string& folder) -> std::unique_ptr<IRegistry> {
      std::filesystem::create_directories(folder);
      const std::string name = std::filesystem::path(folder).filename().string();
      std::unique_ptr<IRegistry> registry;
      const status::Status opened =
          win32::OpenWindowsRegistry({folder + "\\undo-record", folder + "\\undo-lock"}, &registry);
      if (!opened.Ok()) throw std::runtime_error("cannot open the registry: " + opened.message);
      return registry;
    };
    auto make = [reopen](const std::string& folder) {
      EnterRegistrySandbox(std::filesystem::path(folder).filename().string());
      return reopen(folder);
    };
    Backend windows{RunningUnderWine() ? "Wine" : "Windows", make, reopen};
    windows.machine = true;
    windows.wine = RunningUnderWine();
    return std::vector<Backend>{windows};
  }();
  return backends;
}

std::unique_ptr<IRegistry> MakeRegistry(const std::string& folder) { return Backends().front().make(folder); }

}  // namespace zandrel::testing
