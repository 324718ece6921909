#include "bench/BenchData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "registry/hive/Hive.h"

#ifndef ZANDREL_BENCH_DATA_DIR
#error "ZANDREL_BENCH_DATA_DIR must name the folder for the benchmark files"
#endif

namespace zandrel::bench {
namespace {

namespace fs = std::filesystem;

std::string BaseName(const StoreSize& size) { return std::string(size.name) + "-v" + std::to_string(kShapeVersion); }

void WriteWhole(const std::string& path, const std::string& bytes) {
  const std::string temp = path + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + temp);
  }
  fs::rename(temp, path);
}

void Be32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return crc ^ 0xFFFFFFFFu;
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  Be32(png, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type) + data;
  png += body;
  Be32(png, Crc32(body));
}

long StatusKib(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

}  // namespace

std::string DataDir() {
  const std::string dir = ZANDREL_BENCH_DATA_DIR;
  fs::create_directories(dir);
  return dir;
}

std::string CachedRegFile(const StoreSize& size) {
  const std::string path = DataDir() + "/" + BaseName(size) + ".reg";
  if (!fs::exists(path)) WriteWhole(path, ToRegText(GenerateStore(size)));
  return path;
}

// Made again when new hives are made differently (2: 16 KB pages).
constexpr int kHiveVersion = 2;

std::string CachedHive(const StoreSize& size) {
  const std::string path = DataDir() + "/" + BaseName(size) + "-h" + std::to_string(kHiveVersion) + ".hive";
  if (fs::exists(path)) return path;
  const std::string temp = DataDir() + "/" + BaseName(size) + ".making.hive";
  RemoveHive(temp);
  {
    std::unique_ptr<hive::HiveRegistry> hive;
    if (const status::Status opened = hive::OpenHive(temp, &hive); !opened.Ok())
      throw std::runtime_error(opened.message);
    const LONG code = WriteStore(*hive, GenerateStore(size));
    if (code != ERROR_SUCCESS)
      throw std::runtime_error("writing the " + std::string(size.name) + " store failed with " + std::to_string(code));
  }
  // Closed: the write-ahead log is folded into the file and removed.
  fs::rename(temp, path);
  return path;
}

std::string WorkingHive(const StoreSize& size, const std::string& tag) {
  const std::string source = CachedHive(size);
  const std::string path = DataDir() + "/work-" + std::string(size.name) + "-" + tag + ".hive";
  RemoveHive(path);
  fs::copy_file(source, path, fs::copy_options::overwrite_existing);
  return path;
}

void RemoveHive(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

std::string MakePng(int width, int height) {
  // Raw rows (filter byte 0, then grey pixels) in stored deflate blocks.
  std::string raw;
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    for (int x = 0; x < width; ++x) raw += static_cast<char>((x * 7 + y * 3) & 0xFF);
  }
  std::string z = "\x78\x01";
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + n == raw.size();
    z += static_cast<char>(last ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Be32(z, (b << 16) | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr;
  Be32(ihdr, static_cast<std::uint32_t>(width));
  Be32(ihdr, static_cast<std::uint32_t>(height));
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit greyscale
  Chunk(png, "IHDR", ihdr);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", "");
  return png;
}

std::string ManagerAppFolder() {
  const std::string folder = DataDir() + "/app";
  fs::create_directories(folder + "/Pic");
  fs::create_directories(folder + "/Sound");
  for (const char* name :
       {"k01-1.g", "k01-2.g", "k02-1.g", "k02-2.g", "k03-1.g", "k03-2.g", "k04-1.g", "k04-2.g", "Abt1.g", "Abt2.g"}) {
    const std::string path = folder + "/Pic/" + name;
    if (!fs::exists(path)) WriteWhole(path, MakePng(99, 33));
  }
  return folder;
}

long PeakRssKib() { return StatusKib("VmHWM"); }
long CurrentRssKib() { return StatusKib("VmRSS"); }

}  // namespace zandrel::bench
