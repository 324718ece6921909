#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zandrel::fuzz {
namespace {

void DumpKey(IRegistry& registry, HKEY parent, const std::string& name, int depth, int max_depth, int* keys_left,
             std::string& out) {
  out += "[" + name + "]\n";
  HKEY key = 0;
  if (depth > max_depth || --*keys_left < 0 || registry.RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key) != 0) return;
  std::vector<char> value(16384 * 4 + 1);
  std::vector<BYTE> data(1 << 16);
  for (DWORD index = 0; index < 100000; ++index) {
    DWORD length = static_cast<DWORD>(value.size()), size = static_cast<DWORD>(data.size()), type = 0;
    const LONG code = registry.RegEnumValueA(key, index, value.data(), &length, nullptr, &type, data.data(), &size);
    if (code != ERROR_SUCCESS && code != ERROR_MORE_DATA) break;
    out += "  \"" + std::string(value.data(), code == 0 ? length : 0) + "\" " + std::to_string(type) + " " +
           std::to_string(size) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD index = 0; index < 100000; ++index) {
    char child[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof child;
    if (registry.RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
    children.emplace_back(child, length);
  }
  for (const std::string& child : children) DumpKey(registry, key, child, depth + 1, max_depth, keys_left, out);
  if (key != parent) registry.RegCloseKey(key);
}

}  // namespace

const testing::TempDir& Scratch() {
  static const testing::TempDir dir;
  return dir;
}

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink(Scratch().File(name + suffix).c_str());
  return Scratch().Write(name, bytes);
}

std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name) {
  static const std::string empty = [] {  // copying a template is much quicker than making a hive
    if (!hive::OpenHive(Scratch().File("template.hive"), nullptr)) std::abort();
    return testing::ReadFile(Scratch().File("template.hive"));
  }();
  auto hive = hive::OpenHive(WriteScratchFile(name, empty), nullptr);
  if (!hive) std::abort();
  return hive;
}

std::string BoundedDump(IRegistry& registry, HKEY root, int max_depth, int max_keys) {
  std::string out;
  DumpKey(registry, root, "", 0, max_depth, &max_keys, out);
  return out;
}

}  // namespace zandrel::fuzz
