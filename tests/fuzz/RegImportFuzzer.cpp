// Fuzz target: arbitrary bytes as a .reg file. The import runs on a fresh hive
// and on the in-memory model; both must agree on the result and on every key
// and value afterwards, a failed import must leave the hive as it was, and
// exporting what was imported must not fail.
//
// The model is compared only for well-formed text: for a name holding
// malformed UTF-8 the two count its length differently (the hive one
// character per malformed byte, as a code-page conversion would; the model
// skips continuation bytes), so a long malformed name is refused by one only.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "regfile/RegFile.h"
#include "support/MemoryRegistry.h"

namespace {

using namespace zandrel;

constexpr HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS};

bool WellFormedUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

[[noreturn]] void Mismatch(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "mismatch: %s\n--- hive\n%s\n--- model\n%s\n", what, a.c_str(), b.c_str());
  std::abort();
}

std::string DumpAll(IRegistry& registry) {
  std::string out;
  for (HKEY root : kRoots) out += fuzz::BoundedDump(registry, root);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto hive = fuzz::FreshHive("import.hive");
  static const std::string empty = DumpAll(*hive);
  testing::MemoryRegistry model;

  const hive::RegImportResult on_hive = hive::ImportRegText(*hive, bytes, "fuzz.reg");
  const std::string hive_dump = DumpAll(*hive);
  const bool utf16 = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  if (utf16 || WellFormedUtf8(bytes)) {
    const hive::RegImportResult on_model = hive::ImportRegText(model, bytes, "fuzz.reg");
    if (on_hive.ok != on_model.ok || on_hive.line != on_model.line || on_hive.message != on_model.message)
      Mismatch("import result", on_hive.message, on_model.message);
    if (hive_dump != DumpAll(model)) Mismatch("registry after import", hive_dump, DumpAll(model));
  }
  if (!on_hive.ok && hive_dump != empty) Mismatch("failed import left changes", hive_dump, empty);

  if (on_hive.ok) {
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"}) {
      std::string exported, error;
      if (hive::ExportRegText(*hive, root, &exported, &error) != ERROR_SUCCESS)
        Mismatch("export of an imported tree", error, root);
    }
  }
  return 0;
}
