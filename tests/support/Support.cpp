#include "support/Support.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "regfile/RegFile.h"
#include "registry/Key.h"
#include "text/Utf.h"

namespace zandrel::testing {

TempDir::TempDir() {
  namespace fs = std::filesystem;
  fs::path base = fs::temp_directory_path();
#ifndef _WIN32
  if (::access("/dev/shm", W_OK) == 0) base = "/dev/shm";
#endif
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "zandrel-test-%08x", static_cast<unsigned>(random()));
    // Only the caller that made the folder gets it; a folder of the same name is another's.
    if (fs::create_directory(base / name)) path_ = (base / name).string();
  }
  if (path_.empty()) throw std::runtime_error("cannot make a folder in " + base.string());
#ifndef _WIN32
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::replace);
#endif
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string name) const {
  const auto separator = static_cast<char>(std::filesystem::path::preferred_separator);
  std::replace(name.begin(), name.end(), '/', separator);
  return path_ + separator + name;
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  WriteFile(File(name), bytes);
  return File(name);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02x" : " %02x", b);
    out += buf;
  }
  return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string Utf16File(const std::string& utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text::Utf8ToUtf16(utf8)) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

namespace {

// Each key is opened under its parent, so no path grows too long to open.
void DumpKey(IRegistry& registry, HKEY parent, const std::string& sub, const std::string& path, int depthLeft,
             int& keysLeft, std::string& out) {
  out += "[" + path + "]\n";
  if (depthLeft < 0 || --keysLeft < 0) return;
  registry::Key key(registry);
  std::vector<registry::Value> values;
  std::vector<std::string> children;
  if (LONG code = key.Open(parent, sub); code != ERROR_SUCCESS) {
    out += "  error open " + std::to_string(code) + "\n";
    return;
  }
  const LONG read = key.Values(&values);
  for (const registry::Value& v : values)
    out += "  \"" + v.name + "\" type " + std::to_string(v.type) + ": " + Hex(v.data) + "\n";
  if (read != ERROR_SUCCESS) out += "  error value " + std::to_string(read) + "\n";
  if (LONG code = key.SubKeys(&children); code != ERROR_SUCCESS) out += "  error subkey " + std::to_string(code) + "\n";
  for (const std::string& child : children)
    DumpKey(registry, key.Handle(), child, path.empty() ? child : path + "\\" + child, depthLeft - 1, keysLeft, out);
}

}  // namespace

#ifndef _WIN32
void KillThisProcess() {
  ::raise(SIGKILL);
  std::abort();
}

std::string CommandOutput(const std::string& command) {
  std::string out;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}
#endif

std::string DumpTree(IRegistry& registry, HKEY root, const std::string& path, int maxDepth, int maxKeys) {
  std::string out;
  DumpKey(registry, root, path, path, maxDepth, maxKeys, out);
  return out;
}

LONG SeedKey(IRegistry& registry, const std::string& path, HKEY root) {
  HKEY key = 0;
  LONG code = registry.RegCreateKeyExA(root, path.c_str(), 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (code == ERROR_SUCCESS) registry.RegCloseKey(key);
  return code;
}

LONG SeedValue(IRegistry& registry, const std::string& path, const std::string& name, DWORD type,
               const std::string& data, HKEY root) {
  HKEY key = 0;
  LONG code = registry.RegCreateKeyExA(root, path.c_str(), 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (code != ERROR_SUCCESS) return code;
  code = registry.RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size()));
  registry.RegCloseKey(key);
  return code;
}

void SeedAssociation(IRegistry& registry, const std::string& e, const std::string& d, const std::string& command) {
  SeedValue(registry, e, "", REG_SZ, d);
  SeedValue(registry, d + "\\shell\\open\\command", "", REG_SZ, command);
}

std::string TinyPng(int width, int height) {
  std::string ihdr = "IHDR";
  for (std::uint32_t v : {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)})
    for (int shift = 24; shift >= 0; shift -= 8) ihdr += static_cast<char>((v >> shift) & 0xFF);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : ihdr) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  std::string png = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12) + ihdr;
  for (int shift = 24; shift >= 0; shift -= 8) png += static_cast<char>((crc >> shift) & 0xFF);
  return png;
}

std::function<status::Status(IRegistry& registry)> SeedOf(std::string text) {
  return [text = std::move(text)](IRegistry& registry) {
    return regfile::ImportRegText(registry, text, "default classes store");
  };
}

}  // namespace zandrel::testing
