#include "support/RegistryKinds.h"

#include <stdexcept>

#include "support/MemoryRegistry.h"
#ifdef ZANDREL_WITH_HIVE
#include "platform/hive/Hive.h"
#endif

namespace zandrel::testing {

const std::vector<RegistryKind>& RegistryKinds() {
  static const std::vector<RegistryKind> kinds = [] {
    std::vector<RegistryKind> k;
    k.push_back(RegistryKind{
        "Memory", [](const std::string&) -> std::unique_ptr<IRegistry> { return std::make_unique<MemoryRegistry>(); },
        [](const std::string&) -> std::unique_ptr<IRegistry> { return nullptr; }});
#ifdef ZANDREL_WITH_HIVE
    auto open = [](const std::string& folder) -> std::unique_ptr<IRegistry> {
      std::string error;
      auto hive = zandrel::hive::OpenHive(folder + "/test.hive", &error);
      if (!hive) throw std::runtime_error("cannot open test hive: " + error);
      return hive;
    };
    k.push_back(RegistryKind{"Hive", open, open});
#endif
    return k;
  }();
  return kinds;
}

}  // namespace zandrel::testing
