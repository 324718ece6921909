// Fuzz target: bytes as a hive file. Opening fails with a message, or gives
// a registry that lists, takes an add and a removal, and lists again, with
// every failure a code and nothing crashing.
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"

namespace {

using namespace zandrel;

class Yes : public store::Prompter {
 public:
  int MsgBox(const std::string&, int) override { return IDYES; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<hive::HiveRegistry> hive;
  const status::Status opened =
      hive::OpenHive(fuzz::WriteScratchFile("open.hive", std::string(reinterpret_cast<const char*>(data), size)),
                     &hive);
  if (!opened.Ok()) {
    if (opened.message.empty() || hive) std::abort();
    return 0;
  }
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS}) testing::DumpTree(*hive, root, "", 600, 5000);
  store::AssociationListing(*hive).List();
  Yes yes;
  store::CreateAssociation(*hive, yes, {".fz", "Fuzz.File", "/dev/null", 0});
  store::RemoveAssociation(*hive, yes, {".fz", "Fuzz.File", 0});
  store::AssociationListing(*hive).List();
  return 0;
}
