#include "support/TestFolders.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace zandrel::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zandrel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::WriteFile(const std::string& relative, const std::string& bytes) const {
  std::filesystem::path full = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full.string());
  return full.string();
}

namespace {

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

}  // namespace

std::string TinyPng(int width, int height) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string ihdr = "IHDR";
  Be32(ihdr, static_cast<std::uint32_t>(width));
  Be32(ihdr, static_cast<std::uint32_t>(height));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  Be32(png, 13);
  png += ihdr;
  Be32(png, Crc32(ihdr));
  return png;
}

const std::vector<std::string>& ManagerPictureNames() {
  static const std::vector<std::string> names = {"\\k01-1.g", "\\k01-2.g", "\\k02-1.g", "\\k02-2.g",
                                                 "\\k03-1.g", "\\k03-2.g", "\\k04-1.g", "\\k04-2.g",
                                                 "\\Abt1.g",  "\\Abt2.g"};
  return names;
}

void WriteManagerPictures(const TempDir& folder) {
  for (const std::string& name : ManagerPictureNames()) folder.WriteFile("Pic/" + name.substr(1), TinyPng(99, 33));
}

}  // namespace zandrel::testing
