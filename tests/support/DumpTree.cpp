#include "support/DumpTree.h"

#include <cstdio>
#include <vector>

namespace zandrel::testing {

namespace {

std::string Hex(const std::vector<BYTE>& data) {
  std::string out;
  char buf[4];
  for (BYTE b : data) {
    std::snprintf(buf, sizeof buf, "%02x", b);
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

void DumpKey(IRegistry& registry, HKEY root, const std::string& path, const std::string& shown, std::string& out) {
  out += "[" + shown + "]\n";
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (code != ERROR_SUCCESS) {
    out += "  error open " + std::to_string(code) + "\n";
    return;
  }
  for (DWORD index = 0;; ++index) {
    std::vector<char> name(16384 + 1);
    std::vector<BYTE> data(4096);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    code = registry.RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
    if (code == ERROR_MORE_DATA && size > data.size()) {
      data.resize(size);
      nameLength = static_cast<DWORD>(name.size());
      code = registry.RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
    }
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) {
      out += "  error value " + std::to_string(index) + " " + std::to_string(code) + "\n";
      break;
    }
    data.resize(size);
    std::string valueName(name.data(), nameLength);
    out += "  " + (valueName.empty() ? std::string("@") : "\"" + valueName + "\"") + " type " +
           std::to_string(type) + " size " + std::to_string(size) + ": " + Hex(data) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD index = 0;; ++index) {
    char name[1024 + 1];
    DWORD length = sizeof name;
    code = registry.RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) {
      out += "  error subkey " + std::to_string(index) + " " + std::to_string(code) + "\n";
      break;
    }
    children.emplace_back(name, length);
  }
  registry.RegCloseKey(key);
  for (const std::string& child : children)
    DumpKey(registry, root, path.empty() ? child : path + "\\" + child, shown.empty() ? child : shown + "\\" + child,
            out);
}

}  // namespace

std::string Hex(const std::string& bytes) { return Hex(std::vector<BYTE>(bytes.begin(), bytes.end())); }

std::string DumpTree(IRegistry& registry, HKEY root, const std::string& path) {
  std::string out;
  DumpKey(registry, root, path, path, out);
  return out;
}

}  // namespace zandrel::testing
