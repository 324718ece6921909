// Runs a fuzz target's entry point over the files named, and the files in the
// folders named, without libFuzzer; a target that finds a fault aborts.
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "support/Support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files{argv[i]};
    if (std::filesystem::is_directory(argv[i]))
      files.assign(std::filesystem::directory_iterator(argv[i]), std::filesystem::directory_iterator());
    for (const auto& file : files) {
      const std::string bytes = zandrel::testing::ReadFile(file.string());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  std::printf("%d inputs replayed\n", inputs);
  return inputs > 0 ? 0 : 1;
}
