// Fuzz target: bytes as a .reg file imported into a fresh hive. The import
// in bulk gives what the calls give: the same result, lines left out and
// registry. A failed
// import leaves the hive as it was, with a one-line message; what was
// imported exports; an export imported into a fresh hive exports again byte
// for byte (from the second round on: the first may turn malformed UTF-8 into
// U+FFFD).
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "regfile/RegFile.h"
#include "registry/ForwardingRegistry.h"
#include "regfile/RegParser.h"

namespace {

using namespace zandrel;

[[noreturn]] void Fault(const char* what, const std::string& detail) {
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

std::string DumpAll(IRegistry& registry) {
  std::string out;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS})
    out += testing::DumpTree(registry, root, "", 600, 20000);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto hive = fuzz::FreshHive("import.hive");
  static const std::string empty = DumpAll(*hive);
  CallsOnly calls(*hive);
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> notes, bulk_notes;
  const status::Status result = regfile::ImportRegText(calls, file, "fuzz.reg", &notes);
  const std::string dump = DumpAll(*hive);
  auto bulk = fuzz::FreshHive("bulk.hive");
  const status::Status in_bulk = regfile::ImportRegText(*bulk, file, "fuzz.reg", &bulk_notes);
  if (in_bulk.code != result.code || in_bulk.message != result.message)
    Fault("the import in bulk ends otherwise", in_bulk.message);
  if (bulk_notes != notes) Fault("the import in bulk leaves out other lines", "");
  if (DumpAll(*bulk) != dump) Fault("the import in bulk makes another registry", DumpAll(*bulk));
  if (!result.Ok()) {
    if (dump != empty) Fault("a failed import left changes", dump);
    if (result.message.empty() || result.message.find('\n') != std::string::npos)
      Fault("no one-line message", result.message);
    return 0;
  }
  const char* roots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"};
  std::string exported[3][3];
  for (int round = 0; round < 3; ++round) {
    auto again = round == 0 ? std::move(hive) : fuzz::FreshHive("again.hive");
    for (int r = 0; r < 3 && round > 0; ++r) {
      const status::Status back = regfile::ImportRegText(*again, exported[round - 1][r], "export.reg");
      if (!back.Ok()) Fault("the export does not import", back.message);
    }
    for (int r = 0; r < 3; ++r)
      if (const status::Status out = regfile::ExportRegText(*again, roots[r], &exported[round][r]); !out.Ok())
        Fault("export failed", out.message);
  }
  for (int r = 0; r < 3; ++r)
    if (exported[2][r] != exported[1][r]) Fault("an export imported elsewhere exports otherwise", roots[r]);
  return 0;
}
