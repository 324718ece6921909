// Fuzz target: arbitrary bytes as a hive file. Opening must either fail with
// a message or give a registry that can be walked, listed, added to and
// removed from without a crash; any failure must come back as a code.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"
#include "store/KeyRoutines.h"

namespace {

using namespace zandrel;

void List(IRegistry& registry) { store::AssociationListing(registry).List(); }

// Answers yes to every question.
class YesPrompter : public store::Prompter {
 public:
  int MsgBox(const std::string&, int flags) override { return (flags & 0xF) == store::kMbYesNo ? store::kIdYes : 1; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteScratchFile("open.hive", data, size);
  std::string error;
  auto hive = hive::OpenHive(path, &error);
  if (!hive) {
    if (error.empty()) {
      std::fprintf(stderr, "OpenHive failed without a message\n");
      std::abort();
    }
    return 0;
  }
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS})
    fuzz::BoundedDump(*hive, root, 600, 5000);
  List(*hive);
  YesPrompter yes;
  store::CreateAssociation(*hive, yes, store::AssociationFields{".fz", "Fuzz.File", "/dev/null", 0});
  store::RemoveAssociation(*hive, yes, store::RemovalFields{".fz", "Fuzz.File", 0});
  List(*hive);
  return 0;
}
