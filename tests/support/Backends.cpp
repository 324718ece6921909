#include "support/Backends.h"

#include <stdexcept>

#include "registry/hive/Hive.h"

namespace zandrel::testing {

const std::vector<Backend>& Backends() {
  static const std::vector<Backend> backends = [] {
    auto open = [](const std::string& folder) -> std::unique_ptr<IRegistry> {
      std::unique_ptr<hive::HiveRegistry> hive;
      const status::Status opened = hive::OpenHive(folder + "/registry.db", &hive);
      if (!opened.Ok()) throw std::runtime_error(opened.message);
      return hive;
    };
    return std::vector<Backend>{{"Hive", open, open}};
  }();
  return backends;
}

std::unique_ptr<IRegistry> MakeRegistry(const std::string& folder) { return Backends().front().make(folder); }

}  // namespace zandrel::testing
