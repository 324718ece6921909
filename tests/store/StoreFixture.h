#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "support/DumpTree.h"
#include "support/FailingRegistry.h"
#include "support/RecordingPrompter.h"
#include "support/RegistryKinds.h"
#include "support/Seed.h"
#include "support/TestFolders.h"

namespace zandrel::testing {

// One fresh classes store per test, of the kind the test is instantiated for.
class StoreTest : public ::testing::TestWithParam<RegistryKind> {
 protected:
  void SetUp() override { registry = GetParam().make(dir.Path()); }

  // The value at `index` of root\path as "name|type|bytes"; "" when missing.
  std::string ValueAt(HKEY root, const std::string& path, DWORD index) {
    HKEY key = 0;
    if (registry->RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "";
    char name[1100];
    DWORD nameLength = sizeof name;
    BYTE data[8192];
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG code = registry->RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &size);
    registry->RegCloseKey(key);
    if (code != ERROR_SUCCESS) return "";
    return std::string(name, nameLength) + "|" + std::to_string(type) + "|" +
           std::string(reinterpret_cast<const char*>(data), size);
  }
  bool KeyExists(HKEY root, const std::string& path) {
    HKEY key = 0;
    if (registry->RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    registry->RegCloseKey(key);
    return true;
  }

  TempDir dir;
  std::unique_ptr<IRegistry> registry;
  RecordingPrompter prompter;
};

#define ZANDREL_FOR_EACH_REGISTRY(Suite)                                              \
  INSTANTIATE_TEST_SUITE_P(Registries, Suite, ::testing::ValuesIn(RegistryKinds()), \
                           [](const auto& info) { return RegistryKindName(info.param); })

}  // namespace zandrel::testing
