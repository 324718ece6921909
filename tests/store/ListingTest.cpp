// The association list the store reads: which rows it makes from a classes
// store, sound and hostile alike, and what it asks of the registry.
#include <gtest/gtest.h>

#include <optional>

#include "store/AssociationListing.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"

namespace zandrel::store {
void PrintTo(const AssociationRow& row, std::ostream* out) {
  *out << "{" << ::testing::PrintToString(row.extension) << ", " << ::testing::PrintToString(row.description) << ", "
       << ::testing::PrintToString(row.command) << "}";
}
}  // namespace zandrel::store

namespace zandrel::testing {
namespace {

using store::AssociationRow;
using Rows = std::vector<AssociationRow>;

Rows List(IRegistry& registry) { return store::AssociationListing(registry).List().rows; }

struct Value {
  std::string path, name;
  DWORD type;
  std::string data;
};
// "E=D" seeds the association E -> D with the command "c E"; anything else
// is a value as given.
struct Seed {
  Seed(const char* association) : association(association) {}
  Seed(Value v) : value(std::move(v)) {}
  std::string association;
  Value value;
};

struct ListRow {
  const char* name;
  std::vector<Seed> seeds;
  Rows rows;
  std::optional<Rows> wine = {};  // the rows over Wine's registry, where they differ
};

const std::string kMegabyte(1 << 20, 'M');
const std::string kDeepCommand = [] {
  std::string path = "J\\shell\\open\\command";
  for (int level = 4; level < 512; ++level) path += "\\k";
  return path;
}();

TEST(Listing, RowsFromClassesStores) {
  const std::string ext255 = "." + std::string(127, 'e') + std::string(127, 'x');
  std::string title255, emoji = ".";
  for (int i = 0; i < 255; ++i) title255 += "Ж";
  for (int i = 0; i < 127; ++i) emoji += "\xF0\x9F\x98\x80";
  // clang-format off
  const ListRow rows[] = {
      {"kept, dropped and never made",
       {".good=Good", Value{".nocmd", "", REG_SZ, "No Command"}, Value{".dword", "", REG_DWORD, "\x01\0\0\0"},
        Value{".blank", "", REG_SZ, "   "}, Value{".empty", "", REG_SZ, ""}, Value{".novalue\\sub", "", REG_SZ, "x"},
        "notext=NoDot", Value{".spaces", "", REG_SZ, "Spaced "}, Value{"Spaced \\shell\\open\\command", "", REG_SZ, "  cmd %1 "},
        Value{".blankcmd", "", REG_SZ, "BlankCmd"}, Value{"BlankCmd\\shell\\open\\command", "", REG_SZ, "   "}},
       {{".good", "Good", "c .good"}, {".spaces", "Spaced ", "  cmd %1 "}}},
      {"default value after named ones",
       {Value{".late", "Content Type", REG_SZ, "text/plain"}, Value{".late", "", REG_SZ, "Late"},
        Value{"Late\\shell\\open\\command", "", REG_SZ, "late %1"}},
       {{".late", "Late", "late %1"}}},
      {"named first value of the command key",
       {Value{".named", "", REG_SZ, "Named"}, Value{"Named\\shell\\open\\command", "DelegateExecute", REG_SZ, "{x}"},
        Value{"Named\\shell\\open\\command", "", REG_SZ, "named %1"}},
       {}, Rows{{".named", "Named", "named %1"}}},
      {"value too large for the buffer passed over",
       {Value{".big", "Blob", REG_BINARY, std::string(5000, 'x')}, ".big=Big", Value{".h", "", REG_SZ, kMegabyte},
        Value{"Big\\shell\\open\\command", "Big", REG_BINARY, kMegabyte}},
       {{".big", "Big", "c .big"}}},
      {"longest names", {(ext255 + "=" + title255).c_str(), (emoji + "=Emoji").c_str()},
       {{ext255, title255, "c " + ext255}, {emoji, "Emoji", "c " + emoji}}, Rows{}},
      {"Cyrillic", {".док=Документ Ёжика"}, {{".док", "Документ Ёжика", "c .док"}}},
      {"command key spelled otherwise",
       {Value{".cs", "", REG_SZ, "Case"}, Value{"case\\SHELL\\open\\COMMAND", "", REG_SZ, "c %1"}},
       {{".cs", "Case", "c %1"}}},
      {"the walk takes the last command below",
       {".w=Walk", Value{"Walk\\shell\\open\\command\\sub", "", REG_SZ, "sub %1"}}, {{".w", "Walk", "sub %1"}}},
      {"invalid UTF-8 and other types",
       {".a=A", ".b=B\xff\xfe", ".c\xe2\x82=C", Value{".d", "\x80\x81", REG_SZ, "x"}, ".d=D",
        Value{".e", "", REG_DWORD, std::string("\x2a\0\0\0", 4)}, Value{".f", "", REG_BINARY, "F"}, ".g=G",
        Value{"G\\shell\\open\\command", "", REG_MULTI_SZ, std::string("g %1\0", 6)}},
       {{".a", "A", "c .a"}, {".b", "B\xff\xfe", "c .b"}, {".c\xe2\x82", "C", "c .c\xe2\x82"}, {".d", "D", "c .d"}},
       // Through UTF-16, as on Windows: what is not UTF-8 comes back as U+FFFD.
       Rows{{".a", "A", "c .a"}, {".b", "B\uFFFD\uFFFD", "c .b"}, {".c\uFFFD", "C", "c .c\uFFFD"}, {".d", "D", "c .d"}}},
      {"commands Windows keeps as REG_EXPAND_SZ, as stored",
       {Value{".txt", "", REG_SZ, "txtfile"},
        Value{"txtfile\\shell\\open\\command", "", REG_EXPAND_SZ, "%SystemRoot%\\system32\\NOTEPAD.EXE %1"},
        Value{".ini", "", REG_EXPAND_SZ, "inifile"}, Value{"inifile\\shell\\open\\command", "", REG_EXPAND_SZ, "x"}},
       {{".txt", "txtfile", "%SystemRoot%\\system32\\NOTEPAD.EXE %1"}}},
      {"a command key 512 levels deep", {".j=J", Value{kDeepCommand, "", REG_SZ, "deep %1"}}, {{".j", "J", "deep %1"}},
       Rows{{".j", "J", "c .j"}}},
  };
  // clang-format on
  const bool wine = Backends().front().wine;
  for (const ListRow& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    auto registry = MakeRegistry(dir.Path());
    for (const Seed& seed : row.seeds) {
      if (seed.association.empty()) {
        const LONG code = SeedValue(*registry, seed.value.path, seed.value.name, seed.value.type, seed.value.data);
        if (!(wine && row.wine)) {  // Wine cannot hold every path
          ASSERT_EQ(code, 0);
        }
        continue;
      }
      const std::size_t eq = seed.association.find('=');
      const std::string e = seed.association.substr(0, eq);
      SeedAssociation(*registry, e, seed.association.substr(eq + 1), "c " + e);
    }
    FailingRegistry watched(*registry);  // reading is all a listing asks rights for
    watched.RefuseOpenRights(~KEY_READ);
    EXPECT_EQ(List(watched), wine && row.wine ? *row.wine : row.rows);
    EXPECT_EQ(watched.Count(kChangeOps), 0u);
    EXPECT_EQ(watched.Count(Close), [&] {  // every key opened is closed
      std::uint64_t opened = 0;
      for (const auto& call : watched.log) opened += call.op == Open && call.code == 0;
      return opened;
    }());
    for (const auto& call : watched.log) EXPECT_EQ(call.text.find("DefaultIcon"), std::string::npos);
  }
}

TEST(Listing, FailuresOfTheRegistry) {
  TempDir dir;
  auto registry = MakeRegistry(dir.Path());
  for (const std::string n : {"1", "2", "3"}) SeedAssociation(*registry, ".a" + n, "T" + n, "c .a" + n);
  for (const char* sub : {"sub", "sub2"})
    SeedValue(*registry, std::string("T3\\shell\\open\\command\\") + sub, "", REG_SZ, sub);
  // clang-format off
  const struct {
    const char* name;
    std::uint32_t ops;
    std::uint64_t nth;
    LONG code;
    Rows rows;
  } rows[] = {
      {"an entry that does not fit is passed over", EnumKey, 2, ERROR_MORE_DATA, {{".a1", "T1", "c .a1"}, {".a3", "T3", "sub2"}}},
      {"any other code ends the enumeration", EnumKey, 2, ERROR_ACCESS_DENIED, {{".a1", "T1", "c .a1"}}},
      // Opens: classes, three extensions, each command key twice (T3 last), then "sub".
      {"the walk stops at a key it cannot open", Open, 11, ERROR_ACCESS_DENIED,
       {{".a1", "T1", "c .a1"}, {".a2", "T2", "c .a2"}, {".a3", "T3", "c .a3"}}},
      {"the classes key cannot be opened", Open, 1, ERROR_ACCESS_DENIED, {}},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FailingRegistry failing(*registry);
    failing.FailNth(row.nth, row.code, row.ops);
    EXPECT_EQ(List(failing), row.rows);
  }
}

}  // namespace
}  // namespace zandrel::testing
