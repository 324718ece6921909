#include "HiveTestSupport.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace zandrel::hive::testing {

void HiveTest::SetUp() {
  hive_path_ = dir_.File("registry.db");
  std::string error;
  reg_ = OpenHive(hive_path_, &error);
  ASSERT_NE(reg_, nullptr) << error;
}

std::unique_ptr<HiveRegistry> HiveTest::Reopen() {
  std::string error;
  auto reg = OpenHive(hive_path_, &error);
  EXPECT_NE(reg, nullptr) << error;
  return reg;
}

namespace {

void DumpKey(IRegistry& registry, HKEY key, const std::string& title, std::string* out) {
  *out += "[" + title + "]\n";
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD name_length = sizeof name;
    BYTE data[4096];
    DWORD size = sizeof data;
    DWORD type = 0;
    const LONG code =
        registry.RegEnumValueA(key, index, name, &name_length, nullptr, &type, data, &size);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) {
      out->append("!").append(std::to_string(code)).append("\n");
      break;
    }
    std::string line = std::string("\"").append(name, name_length).append("\" = ");
    line.append(std::to_string(type)).append(":");
    for (DWORD i = 0; i < size; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", data[i]);
      line += hex;
    }
    *out += line + "\n";
  }
  std::vector<std::string> children;
  for (DWORD index = 0;; ++index) {
    char name[1024];  // 255 characters of UTF-8 take up to 1020 bytes
    DWORD length = sizeof name;
    const LONG code =
        registry.RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) {
      out->append("!").append(std::to_string(code)).append("\n");
      break;
    }
    children.emplace_back(name, length);
  }
  for (const auto& child : children) {
    HKEY sub = 0;
    const LONG code = registry.RegOpenKeyExA(key, child.c_str(), 0, KEY_READ, &sub);
    if (code != ERROR_SUCCESS) {
      out->append("!").append(std::to_string(code)).append("\n");
      continue;
    }
    DumpKey(registry, sub, title.empty() ? child : title + "\\" + child, out);
    registry.RegCloseKey(sub);
  }
}

}  // namespace

std::string Dump(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  const LONG code = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (code != ERROR_SUCCESS) return std::string("!").append(std::to_string(code)).append("\n");
  std::string out;
  DumpKey(registry, key, "", &out);
  if (key != root) registry.RegCloseKey(key);
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

LONG CreateKey(IRegistry& registry, HKEY root, const std::string& path, HKEY* out,
               DWORD* disposition) {
  HKEY key = 0;
  const LONG code = registry.RegCreateKeyExA(root, path.c_str(), 0, "", REG_OPTION_NON_VOLATILE,
                                             KEY_ACCESS_0x3F, nullptr, &key, disposition);
  if (out != nullptr) {
    *out = key;
  } else if (code == ERROR_SUCCESS) {
    registry.RegCloseKey(key);
  }
  return code;
}

LONG SetString(IRegistry& registry, HKEY root, const std::string& path, const std::string& name,
               const std::string& text) {
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, &key);
  if (code != ERROR_SUCCESS) return code;
  code = registry.RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.data()),
                                 static_cast<DWORD>(text.size()));
  registry.RegCloseKey(key);
  return code;
}

bool KeyExists(IRegistry& registry, HKEY root, const std::string& path) {
  HKEY key = 0;
  if (registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  registry.RegCloseKey(key);
  return true;
}

}  // namespace zandrel::hive::testing
