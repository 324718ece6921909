#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <cstdlib>

namespace zandrel::fuzz {
namespace {

const testing::TempDir& Scratch() {  // the run's files
  static const testing::TempDir dir;
  return dir;
}

}  // namespace

std::string WriteScratchFile(const std::string& name, const std::string& bytes) {
  for (const char* suffix : {"-wal", "-shm", "-journal"}) ::unlink(Scratch().File(name + suffix).c_str());
  return Scratch().Write(name, bytes);
}

std::unique_ptr<hive::HiveRegistry> FreshHive(const std::string& name) {
  static const std::string empty = [] {  // copying a template is much quicker than making a hive
    std::unique_ptr<hive::HiveRegistry> made;
    if (!hive::OpenHive(Scratch().File("template.hive"), &made).Ok()) std::abort();
    return testing::ReadFile(Scratch().File("template.hive"));
  }();
  std::unique_ptr<hive::HiveRegistry> hive;
  if (!hive::OpenHive(WriteScratchFile(name, empty), &hive).Ok()) std::abort();
  return hive;
}

}  // namespace zandrel::fuzz
