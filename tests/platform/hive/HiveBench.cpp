// hive_bench [SUBKEYS [EXTENSIONS]]: figures for the hive, not a test. Writes
// a .reg with SUBKEYS direct subkeys of the classes root (EXTENSIONS extension
// keys in the association layout, as many title keys, the rest other
// classes), imports it into a fresh hive, and times a listing-shaped walk: for
// every extension, open it, enumerate its values, open its command key,
// enumerate value 0 and the subkeys. Prints the times and calls per second.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/hive/Hive.h"
#include "regfile/RegFile.h"

using namespace zandrel;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

std::string MakeReg(int subkeys, int extensions) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  for (int i = 0; i < extensions; ++i) {
    const std::string n = std::to_string(i);
    text += "[HKEY_CLASSES_ROOT\\.e" + n + "]\r\n\"Content Type\"=\"application/x-e" + n +
            "\"\r\n@=\"title" + n + "\"\r\n\r\n";
    text += "[HKEY_CLASSES_ROOT\\title" + n + "\\shell\\open\\command]\r\n@=\"C:\\\\Tools\\\\t" +
            n + ".exe %1\"\r\n\r\n";
    text += "[HKEY_CLASSES_ROOT\\title" + n + "\\DefaultIcon]\r\n@=\"C:\\\\Tools\\\\t" + n +
            ".exe,1\"\r\n\r\n";
  }
  for (int i = 2 * extensions; i < subkeys; ++i) {
    text += "[HKEY_CLASSES_ROOT\\Other.Class." + std::to_string(i) + "]\r\n@=\"x\"\r\n\r\n";
  }
  return text;
}

// CPU time of this process so far, in ms: the machine may be shared.
double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  const int subkeys = argc > 1 ? std::atoi(argv[1]) : 30000;
  const int extensions = argc > 2 ? std::atoi(argv[2]) : subkeys / 6;
  const std::string dir = (std::filesystem::temp_directory_path() / "zandrel-hive-bench").string();
  std::filesystem::remove_all(dir);
  const std::string path = dir + "/registry.db";
  std::string error;
  auto reg = hive::OpenHive(path, &error);
  if (!reg) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string text = MakeReg(subkeys, extensions);
  auto start = Clock::now();
  double cpu = CpuMs();
  const hive::RegImportResult result = hive::ImportRegText(*reg, text, "bench.reg");
  if (!result.ok) {
    std::fprintf(stderr, "%s\n", result.message.c_str());
    return 1;
  }
  std::printf("import of %d classes subkeys (%zu bytes of .reg): %.1f ms (cpu %.1f ms)\n", subkeys,
              text.size(), Ms(start), CpuMs() - cpu);
  reg.reset();
  reg = hive::OpenHive(path, &error);

  for (int round = 0; round < 3; ++round) {
    long calls = 0;
    int rows = 0;
    start = Clock::now();
    cpu = CpuMs();
    HKEY classes = 0;
    ++calls;
    reg->RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes", 0, KEY_ACCESS_0x3F, &classes);
    std::vector<std::string> extensions;
    for (DWORD i = 0;; ++i) {
      char name[256];
      DWORD length = 256;
      ++calls;
      if (reg->RegEnumKeyExA(classes, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) {
        break;
      }
      if (name[0] == '.') extensions.emplace_back(name);
    }
    for (const std::string& ext : extensions) {
      HKEY key = 0;
      ++calls;
      if (reg->RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Classes\\" + ext).c_str(), 0,
                             KEY_ACCESS_0x3F, &key) != 0) {
        continue;
      }
      std::string title;
      for (DWORD i = 0;; ++i) {
        char name[1024];
        BYTE data[1024];
        DWORD name_length = 1024, size = 1024, type = 0;
        ++calls;
        if (reg->RegEnumValueA(key, i, name, &name_length, nullptr, &type, data, &size) != 0) {
          break;
        }
        if (name_length == 0 && size > 0) {
          title.assign(reinterpret_cast<char*>(data), size - 1);
          break;
        }
      }
      ++calls;
      reg->RegCloseKey(key);
      const std::string command = "SOFTWARE\\Classes\\" + title + "\\Shell\\Open\\Command";
      for (int pass = 0; pass < 2; ++pass) {  // the walk opens it, and so does the value read
        HKEY cmd = 0;
        ++calls;
        if (reg->RegOpenKeyExA(HKEY_LOCAL_MACHINE, command.c_str(), 0, KEY_ACCESS_0x3F, &cmd) !=
            0) {
          break;
        }
        char name[1024];
        BYTE data[1024];
        DWORD name_length = 1024, size = 1024, type = 0;
        ++calls;
        if (pass == 1 &&
            reg->RegEnumValueA(cmd, 0, name, &name_length, nullptr, &type, data, &size) == 0) {
          ++rows;
        }
        if (pass == 0) {
          char sub[256];
          DWORD length = 256;
          reg->RegEnumKeyExA(cmd, 0, sub, &length, nullptr, nullptr, nullptr, nullptr);
        }
        ++calls;
        reg->RegCloseKey(cmd);
      }
    }
    reg->RegCloseKey(classes);
    const double ms = Ms(start);
    std::printf(
        "listing walk %d: %zu extensions, %d rows, %ld calls in %.1f ms (cpu %.1f ms, %.2f "
        "us/call)\n",
        round + 1, extensions.size(), rows, calls, ms, CpuMs() - cpu, ms * 1000.0 / calls);
  }
  reg.reset();
  std::filesystem::remove_all(dir);
  return 0;
}
