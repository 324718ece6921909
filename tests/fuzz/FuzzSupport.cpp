#include "fuzz/FuzzSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zandrel::fuzz {

namespace {

std::string MakeScratchDir() {
  std::string base = "/dev/shm";
  struct stat st {};
  if (::stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || ::access(base.c_str(), W_OK) != 0) {
    base = std::filesystem::temp_directory_path().string();
  }
  std::string pattern = base + "/zandrel-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void DumpKey(IRegistry& registry, HKEY parent, const std::string& name, const std::string& shown, int depth,
             int max_depth, int* keys_left, std::string& out) {
  out += "[" + shown + "]\n";
  if (depth > max_depth || --*keys_left < 0) {
    out += "  (cut)\n";
    return;
  }
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, &key);
  if (code != ERROR_SUCCESS) {
    out += "  error open " + std::to_string(code) + "\n";
    return;
  }
  std::vector<char> value_name(16384 * 4 + 1);
  std::vector<BYTE> data(4096);
  for (DWORD index = 0; index < 100000; ++index) {
    DWORD name_length = static_cast<DWORD>(value_name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    code = registry.RegEnumValueA(key, index, value_name.data(), &name_length, nullptr, &type, data.data(), &size);
    if (code == ERROR_MORE_DATA && size > data.size() && size <= (64u << 20)) {
      data.resize(size);
      name_length = static_cast<DWORD>(value_name.size());
      code = registry.RegEnumValueA(key, index, value_name.data(), &name_length, nullptr, &type, data.data(), &size);
    }
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) {
      out += "  error value " + std::to_string(index) + " " + std::to_string(code) + "\n";
      break;
    }
    out += "  \"" + std::string(value_name.data(), name_length) + "\" type " + std::to_string(type) + " size " +
           std::to_string(size) + "\n";
  }
  std::vector<std::string> children;
  for (DWORD index = 0; index < 100000; ++index) {
    char child[MAX_KEY_NAME_CHARS * 4 + 1];
    DWORD length = sizeof child;
    code = registry.RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) break;
    if (code != ERROR_SUCCESS) {
      out += "  error subkey " + std::to_string(index) + " " + std::to_string(code) + "\n";
      break;
    }
    children.emplace_back(child, length);
  }
  for (const std::string& child : children)
    DumpKey(registry, key, child, shown + "\\" + child, depth + 1, max_depth, keys_left, out);
  if (key != parent) registry.RegCloseKey(key);
}

}  // namespace

const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string made = MakeScratchDir();
    static std::string removed_at_exit;
    removed_at_exit = made;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removed_at_exit, ignored);
    });
    return made;
  }();
  return dir;
}

void RemoveHiveFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name) {
  static const std::string template_bytes = [] {
    const std::string path = ScratchDir() + "/template.hive";
    RemoveHiveFiles(path);
    std::string error;
    {
      auto made = hive::OpenHive(path, &error);
      if (!made) {
        std::fprintf(stderr, "cannot make the template hive: %s\n", error.c_str());
        std::abort();
      }
    }
    return ReadAll(path);
  }();
  const std::string path = WriteScratchFile(name, reinterpret_cast<const std::uint8_t*>(template_bytes.data()),
                                            template_bytes.size());
  std::string error;
  auto hive = hive::OpenHive(path, &error);
  if (!hive) {
    std::fprintf(stderr, "cannot open a copy of the template hive: %s\n", error.c_str());
    std::abort();
  }
  return hive;
}

std::string WriteScratchFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  RemoveHiveFiles(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  ::chmod(path.c_str(), 0600);
  return path;
}

std::string BoundedDump(IRegistry& registry, HKEY root, int max_depth, int max_keys) {
  std::string out;
  int keys_left = max_keys;
  DumpKey(registry, root, "", "", 0, max_depth, &keys_left, out);
  return out;
}

}  // namespace zandrel::fuzz
