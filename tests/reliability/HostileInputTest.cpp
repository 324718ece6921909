// Hostile input: bad text in the entry fields, hostile data in the hive, and
// hostile .reg files. Each gives its message or a clean error, nothing
// crashes, and a refused add leaves the registry as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/hive/RegFile.h"
#include "reliability/ReliabilitySupport.h"
#include "support/DumpTree.h"
#include "support/Seed.h"

namespace zandrel::testing {
namespace {

// A hex byte written with a long run of digits is refused with the file's
// line, and reading the run does not overflow (UBSan stops here otherwise).
TEST(HostileRegFile, LongRunOfHexDigitsIsRefused) {
  ScratchDir dir;
  auto hive = MustOpenHive(dir.File("r.hive"));
  ASSERT_NE(hive, nullptr);
  const std::string before = DumpClasses(*hive);
  for (const std::string digits : {"fffffffffffffffffff", "123", "0000000000000000000000000000000001"}) {
    SCOPED_TRACE(digits);
    const std::string text = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\.hx]\n\"B\"=hex:01," + digits + ",02\n";
    const hive::RegImportResult result = hive::ImportRegText(*hive, text, "long.reg");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.line, 4);
    EXPECT_EQ(result.message, "long.reg, line 4: hex data must be bytes of two hex digits separated by commas");
    EXPECT_EQ(DumpClasses(*hive), before);
  }
}

}  // namespace
}  // namespace zandrel::testing
