// The registry answers every call as the Win32 registry does, one row per
// case, on every backend. A row is a script of calls (RegistryScript.h) with
// the code and the outputs each must give. After each row a freshly opened
// instance must read the same tree.
#include <gtest/gtest.h>

#include <iterator>
#include <tuple>

#include "registry/RegistryScript.h"
#include "support/Backends.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

struct Row {
  const char* name;
  std::string script;
};

const std::string k255 = Repeat("n", 255), k256 = Repeat("n", 256);
const std::string kDeep = Repeat("k\\\\", 511) + "k";  // 512 levels, as script text

// clang-format off
const Row kRows[] = {
    // Roots and handles.
    {"CreateTwiceGivesDisposition", R"(create HKCR .zzq -> 0 disp 1; create HKCR .zzq -> 0 disp 2)"},
    {"ClassesRootIsMachineSoftwareClasses",
     R"(create HKCR .zzq -> 0; open HKLM "SOFTWARE\\Classes\\.zzq" -> 0;
        create HKLM "Software\\CLASSES\\zzqfile\\shell" -> 0; open HKCR "ZZQFILE\\Shell" -> 0)"},
    {"EmptyPathOpensTheRootItself",
     R"(open HKCR "" read -> 0 is HKCR; open HKLM null read -> 0 is HKLM; open HKCU "" -> 0 is HKCU;
        open HKU "" -> 0 is HKU)"},
    {"NullBogusAndClosedHandlesAreInvalidClosingARootSucceeds",
     R"(open null x -> 6; close HKCR -> 0; close bogus -> 6; close null -> 6; create HKCR .zzq -> 0 as h1; close h1 -> 0;
        close h1 -> 6; open h1 "" read -> 6; enumkey h1 0 16 -> 6; enumval h1 0 16 16 -> 6; set h1 "" sz "x" -> 6;
        delkey h1 x -> 6; create h1 x -> 6; create HKCR .after -> 0)"},
    {"HandleIsCheckedBeforeThePath",
     R"(open bogus "\\x" -> 6; open bogus "n"*256 -> 6; create bogus "\\x" -> 6; create bogus "n"*256 -> 6;
        delkey bogus "\\x" -> 6; delkey bogus "n"*256 -> 6; create HKCR .gone -> 0 as h1; delkey HKCR .gone -> 0;
        create h1 "a\\)" + k256 + R"(" -> 1018; delkey h1 "\\x" -> 1018; keys HKCR "" = "")"},
    // Value data. A string reads back with one NUL: its own not counted, counted, the size ending it early,
    // none, one inside, Cyrillic. Other types are kept as given.
    {"ValueDataReadsBackAsGiven",
     R"(create HKCR v -> 0 as h1; set h1 a sz "abc" 3 -> 0; set h1 b sz "abc\0" -> 0; set h1 c sz "abcX" 3 -> 0;
        set h1 d sz "abc" 0 -> 0; set h1 e sz "ab\0cd" -> 0; set h1 f sz "ёлка" -> 0; set h1 g binary "\x01\0" -> 0;
        set h1 h dword "\x2a\0\0\0" -> 0; enumval h1 0 1024 1024 -> 0 "a" sz "abc\0"; enumval h1 1 1024 1024 -> 0 "b" sz "abc\0";
        enumval h1 2 1024 1024 -> 0 size 4 "c" sz "abc\0"; enumval h1 3 1024 1024 -> 0 "d" sz "";
        enumval h1 4 1024 1024 -> 0 "e" sz "ab\0cd\0"; enumval h1 5 1024 1024 -> 0 "f" sz "ёлка\0";
        enumval h1 6 1024 1024 -> 0 "g" binary "\x01\0"; enumval h1 7 1024 1024 -> 0 "h" dword "\x2a\0\0\0")"},
    // Value buffers: exactly large enough, none for the data, one variable for the type and the size, past the last.
    {"ValueBuffersExactlyLargeEnoughOrNone",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "0123456789" -> 0;
        enumval h1 0 13 11 -> 0 size 11 "Content Type" sz "0123456789\0"; enumval h1 0 1024 null -> 0 size 11;
        enumval h1 0 1024 1024 sametype -> 0 size 11; enumval h1 1 1024 1024 -> 259; enumval h1 0xFFFFFFFF 1024 1024 -> 259)"},
    {"DataOneByteShortGives234AndTheSizeNeeded",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "0123456789" -> 0; set h1 "" sz "ab" -> 0;
        enumval h1 0 1024 10 -> 234 size 11; enumval h1 1 1024 1024 -> 0 size 3 "" sz "ab\0")"},
    {"NameWithoutRoomForItsNulGives234AndTheData",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "x" -> 0; set h1 "" sz "ab" -> 0;
        enumval h1 0 12 1024 -> 234 size 2 untouched sz "x\0"; enumval h1 0 0 1024 -> 234 size 2 untouched sz "x\0";
        enumval h1 0 12 1 -> 234 size 2; enumval h1 0 12 null -> 234 size 2; enumval h1 1 1024 1024 -> 0 "" sz "ab\0")"},
    // Names.
    {"KeyNamesCompareWithoutCaseAndKeepTheirCase",
     R"(create HKCR "Zq_Title\\shell\\open\\command" -> 0; open HKCR "zq_title\\Shell\\Open\\Command" -> 0;
        keys HKCR "ZQ_TITLE\\SHELL" = "open"; create HKCR "P\\CaseKey" -> 0; create HKCR "P\\CASEKEY" -> 0 disp 2;
        keys HKCR p = "CaseKey")"},
    {"ValueNamesCompareWithoutCase",
     R"(create HKCR v -> 0 as h1; set h1 ValName sz "1" -> 0; set h1 VALNAME sz "2" -> 0;
        enumval h1 0 1024 1024 -> 0 "ValName" sz "2\0"; values HKCR v = "ValName"; delval h1 valname -> 0;
        delval h1 valname -> 2)"},
    // Cyrillic and Greek fold; a character never folds into two, nor onto ASCII.
    {"OneCharacterFoldsToOne",
     R"(create HKCR "Ёлка\\Шар" -> 0; open HKCR "ёЛКА\\шАР" -> 0; open HKCR "ЁЛКА" -> 0; create HKCR "σοφία" -> 0;
        open HKCR "ΣΟΦΊΑ" -> 0; create HKCR "straße" -> 0; open HKCR "STRASSE" -> 2; open HKCR "STRAßE" -> 0;
        create HKCR "ı" -> 0; open HKCR "I" -> 2; create HKCR k -> 0; open HKCR "\xE2\x84\xAA" -> 2; open HKCR absent -> 2)"},
    {"TrailingBackslashAndEmptyComponentsAreIgnored",
     R"(create HKCR "foo\\" -> 0; create HKCR "a\\\\b" -> 0; create HKCR "c\\d\\" -> 0; keys HKCR "" = "a|c|foo";
        open HKCR "a\\b\\" -> 0; keys HKCR c = "d")"},
    {"LeadingBackslashIs161",
     R"(create HKCR "\\foo" -> 161; create HKCR "\\" -> 161; open HKLM "\\SOFTWARE" -> 161; create HKCR base -> 0 as h1;
        create h1 "\\foo" -> 161; open h1 "\\" -> 161; delkey h1 "\\foo" -> 161; keys HKCR "" = "base"; keys h1 "" = "")"},
    {"OpeningUnderTheClassesRootPassesOverOneLeadingBackslash",
     R"(create HKCR "a\\b" -> 0; open HKCR "\\a\\b" -> 0; open HKCR "\\\\a" -> 161; open HKCR "\\" read -> 0 as h1;
        enumkey h1 0 16 -> 0 "a"; close h1 -> 0; enumkey h1 0 16 -> 6)"},
    {"KeyNamesUpTo255Characters",
     R"(create HKCR "n"*255 -> 0; create HKCR "n"*256 -> 87; open HKCR "n"*256 -> 87; create HKCR "ok\\)" + k256 +
         R"(" -> 87; create HKCR "ж"*255 -> 0; create HKCR "ж"*256 -> 87; keys HKCR "" = ")" + k255 + "|" +
         Repeat("ж", 255) + R"(")"},
    {"ValueNamesUpTo16383Characters",
     R"(create HKCR v -> 0 as h1; set h1 "v"*16383 sz "x" -> 0; set h1 "v"*16384 sz "x" -> 87)"},
    {"NestingStopsAt512Levels",
     R"(create HKCR ")" + kDeep + R"(" -> 0; create HKCR ")" + kDeep + R"(\\deeper" -> 87; create HKLM "SOFTWARE\\Classes\\)" +
         kDeep + R"(\\deeper" -> 87; create HKCR "fresh\\)" + kDeep + R"(" -> 87; keys HKCR "" = "k")"},
    // Enumeration.
    {"SubkeysInTheOrderOfTheirUpperCasedNames",
     R"(create HKCR b -> 0; create HKCR A -> 0; create HKCR c -> 0; create HKCR B2 -> 0; create HKCR .x -> 0;
        create HKCR ._sln -> 0; create HKCR .zip -> 0; create HKCR "Ё" -> 0; create HKCR "я" -> 0; create HKCR _ -> 0;
        keys HKCR "" = ".x|.zip|._sln|A|b|B2|c|_|Ё|я")"},
    {"ValuesInCreationOrderARewriteKeepsItsPlace",
     R"(create HKCR v -> 0 as h1; set h1 zeta sz 1 -> 0; set h1 Alpha sz 1 -> 0; set h1 "" sz 1 -> 0;
        set h1 mid sz 1 -> 0; set h1 ALPHA dword "\x01\0\0\0" -> 0; delval h1 zeta -> 0; set h1 zeta sz 2 -> 0;
        values HKCR v = "Alpha|@|mid|zeta"; enumval h1 0 1024 1024 -> 0 "Alpha" dword "\x01\0\0\0")"},
    {"NameBufferTooSmallLeavesLengthAndBuffer",
     R"(create HKCR p -> 0 as h1; create h1 longname -> 0; create h1 s -> 0; enumkey h1 0 8 -> 234;
        enumkey h1 0 9 -> 0 "longname"; enumkey h1 1 2 -> 0 "s"; enumkey h1 2 256 -> 259)"},
    {"EnumerationSeesKeysAddedAndRemoved",
     R"(create HKCR p -> 0 as h1; create h1 b -> 0; enumkey h1 0 256 -> 0 "b"; create h1 a -> 0;
        enumkey h1 0 256 -> 0 "a"; delkey h1 a -> 0; enumkey h1 1 256 -> 259)"},
    // Deletion.
    {"KeyWithSubkeysIsRefused",
     R"(create HKCR "t\\shell\\open" -> 0; delkey HKCR t -> 5; keys HKCR "t\\shell" = "open"; delkey HKCR "T\\SHELL\\OPEN" -> 0;
        delkey HKCR "t\\shell\\open" -> 2; delkey HKCR "no\\such\\key" -> 2; keys HKCR t = "shell")"},
    {"DeletionTakesTheValues",
     R"(create HKCR .zzq -> 0 as h1; set h1 "" sz z -> 0; set h1 "Content Type" sz t -> 0; close h1 -> 0;
        delkey HKCR .zzq -> 0; create HKCR .zzq -> 0; values HKCR .zzq = "")"},
    {"DeletionRelativeToAnOpenedKey",
     R"(create HKCR "t\\shell\\open\\command" -> 0; open HKCR t read -> 0 as h1; delkey h1 "shell\\open\\command" -> 0;
        keys HKCR "t\\shell" = "open")"},
    {"FixedRootsCannotBeDeleted",
     R"(delkey HKLM "SOFTWARE\\Classes" -> 5; delkey HKCR "" -> 5; delkey HKCR null -> 87; create HKCR x -> 0)"},
    {"HandleOfADeletedKeyGives1018",
     R"(create HKCR .zzq -> 0 as h1; delkey HKCR .zzq -> 0; set h1 "" sz a -> 1018; enumval h1 0 1024 1024 -> 1018;
        create h1 sub -> 1018; enumkey h1 0 256 -> 1018; create HKCR .zzq -> 0; set h1 "" sz a -> 1018;
        close h1 -> 0; keys HKCR .zzq = "")"},
    // Access rights.
    {"ReadHandleCannotWriteValuesButCreatesChildren",
     R"(create HKCR .zzq -> 0 as h1; set h1 v sz x -> 0; open HKCR .zzq read -> 0 as h2; set h2 "" sz a -> 5;
        delval h2 v -> 5; create h2 child -> 0; keys HKCR .zzq = "child"; values HKCR .zzq = "v")"},
    {"WriteHandleCannotEnumerate",
     R"(create HKCR ".zzq\\c" -> 0; open HKCR .zzq write -> 0 as h1; enumkey h1 0 16 -> 5)"},
    // Transactions.
    {"RollbackLeavesNothing",
     R"(create HKCR .keep -> 0; begin -> 0; create HKCR ".gone\\sub" -> 0; open HKCR ".gone\\sub" -> 0;
        delkey HKCR .keep -> 0; rollback; keys HKCR "" = ".keep"; @2 keys HKCR "" = ".keep")"},
    {"OthersSeeACommitOnlyOnceMade",
     R"(@2 keys HKCR "" = ""; begin -> 0; create HKCR .new -> 0; @2 keys HKCR "" = ""; commit -> 0;
        @2 keys HKCR "" = ".new")"},
    {"AFailingCallInATransactionUndoesOnlyItself",
     R"(begin -> 0; create HKCR .kept -> 0; create HKCR "fresh\\)" + kDeep + R"(" -> 87; commit -> 0;
        keys HKCR "" = ".kept")"},
    {"TransactionsDoNotNest", R"(commit -> 87; begin -> 0; begin -> 87; rollback; rollback; begin -> 0; commit -> 0)"},
    {"HandleOfARolledBackKeyStaysDeleted",
     R"(begin -> 0; create HKCR RolledBack -> 0 as h1; rollback; create HKCR .stranger -> 0; set h1 "" sz x -> 1018;
        create h1 child -> 1018; enumkey h1 0 64 -> 1018; close h1 -> 0; keys HKCR "" = ".stranger";
        values HKCR .stranger = "")"},
    // Two instances.
    {"AnotherInstanceSeesChangesAtOnce",
     R"(@2 keys HKCR "" = ""; create HKCR .a -> 0; @2 keys HKCR "" = ".a"; @2 open HKCR .a -> 0 as h2;
        @2 set h2 "" sz afile -> 0; values HKCR .a = "@"; delkey HKCR .a -> 0; @2 set h2 "" sz x -> 1018;
        @2 keys HKCR "" = "")"},
    // The extensions whose default value names a title: a REG_SZ of at most
    // 4096 bytes, in any case, with or without its NUL; a subkey's default,
    // another value, another type, a key without a dot are not.
    {"ExtensionsNamingATitle",
     R"(create HKCR .b -> 0 as h1; set h1 "" sz "Zq Ёж\0" -> 0; create HKCR .A -> 0 as h2; set h2 "" sz "zQ ёЖ" -> 0;
        create HKCR .c -> 0 as h3; set h3 "" expand "Zq Ёж\0" -> 0; create HKCR ".d\\sub" -> 0 as h4;
        set h4 "" sz "Zq Ёж\0" -> 0; create HKCR .e -> 0 as h5; set h5 "x" sz "Zq Ёж\0" -> 0;
        create HKCR zq -> 0 as h6; set h6 "" sz "Zq Ёж\0" -> 0; create HKCR .f -> 0 as h7; set h7 "" sz "Zq Ё\0" -> 0;
        create HKCR .g -> 0 as h8; set h8 "" sz "Zq Ёж\0\0" -> 0; create HKCR .h -> 0 as h9; set h9 "" sz "x"*4096 -> 0;
        create HKCR .i -> 0 as h9; set h9 "" sz "y"*4095 -> 0; naming "ZQ ЁЖ" = ".A|.b" -> 0; naming "Zq Ё" = ".f" -> 0;
        naming "Zq E" = "" -> 0; naming "Zq ЁЖz" = "" -> 0; naming "Zq" = "" -> 0;
        naming "" = "" -> 0; naming "x"*4096 = "" -> 0; naming "Y"*4095 = ".i" -> 0;
        begin -> 0; delkey HKCR .b -> 0; naming "zq ёж" = ".A" -> 0; rollback; naming "zq ёж" = ".A|.b" -> 0)"},
};
// clang-format on

// Rows as a backend answers them where it differs, and the one place that
// names how: Wine's registry (Wine 8, measured) against Windows, which the
// hive follows; and the machine's registry in a sandbox with an undo record.
struct Otherwise {
  const char* name;
  bool (*applies)(const Backend&);
  std::string was, is;  // the part of the row's script that differs ("": all of it), and what it is here
};

bool Wine(const Backend& b) { return b.wine; }
bool Machine(const Backend& b) { return b.machine; }

const Otherwise kOtherwise[] = {
    // Windows and Wine read the byte after a string's data, and store a NUL
    // only when that byte is one (the hive reads only the data given); a
    // string stored without one reads back with a NUL after it, not counted,
    // when the buffer has room.
    {"ValueDataReadsBackAsGiven", Machine, R"(-> 0 size 4 "c" sz "abc\0")",
     R"(-> 0 size 3 "c" sz "abc" nul; enumval h1 2 1024 3 -> 0 size 3 "c" sz "abc")"},
    // Wine enumerates values sorted by name, not in creation order; on 234 for
    // a short name buffer it also writes the name, cut short.
    {"DataOneByteShortGives234AndTheSizeNeeded", Wine, R"(enumval h1 0 1024 10 -> 234 size 11; enumval h1 1)",
     R"(enumval h1 1 1024 10 -> 234 size 11; enumval h1 0)"},
    {"NameWithoutRoomForItsNulGives234AndTheData", Wine,
     R"(enumval h1 0 12 1024 -> 234 size 2 untouched sz "x\0"; enumval h1 0 0 1024 -> 234 size 2 untouched sz "x\0";
        enumval h1 0 12 1 -> 234 size 2; enumval h1 0 12 null -> 234 size 2; enumval h1 1)",
     R"(enumval h1 1 12 1024 -> 234 size 2 "Content Typ" sz "x\0"; enumval h1 1 0 1024 -> 234 size 2 untouched sz "x\0";
        enumval h1 1 12 1 -> 234 size 2; enumval h1 1 12 null -> 234 size 2 "Content Typ"; enumval h1 0)"},
    {"ValuesInCreationOrderARewriteKeepsItsPlace", Wine, R"("Alpha|@|mid|zeta"; enumval h1 0)",
     R"("@|Alpha|mid|zeta"; enumval h1 1)"},
    // Wine enumerates subkeys sorted by their lower-cased names.
    {"SubkeysInTheOrderOfTheirUpperCasedNames", Wine, R"(".x|.zip|._sln|A|b|B2|c|_|Ё|я")",
     R"("._sln|.x|.zip|_|A|b|B2|c|я|Ё")"},
    // Wine takes a key name of 256 characters.
    {"KeyNamesUpTo255Characters", Wine, "",
     R"(create HKCR ")" + k256 +
         R"(" -> 0; create HKCR "n"*257 -> 87; create HKCR "ж"*256 -> 0; create HKCR "ж"*257 -> 87)"},
    // Wine answers 234 to a path longer than MAX_PATH (the classes store's own
    // path counts: a 255-character extension is out of reach there).
    {"NestingStopsAt512Levels", Wine, "", R"(create HKCR ")" + kDeep + R"(" -> 234; keys HKCR "" = "")"},
    {"AFailingCallInATransactionUndoesOnlyItself", Wine, "-> 87; commit", "-> 234; commit"},
    // The sandbox's roots are keys of their own, and deletable.
    {"FixedRootsCannotBeDeleted", Machine, R"(delkey HKLM "SOFTWARE\\Classes" -> 5; delkey HKCR "" -> 5; )", ""},
    // The undo record makes a change all-or-nothing, not invisible until committed.
    {"OthersSeeACommitOnlyOnceMade", Machine, R"(@2 keys HKCR "" = ""; commit)", R"(@2 keys HKCR "" = ".new"; commit)"},
};

// One test a row and backend, so that a row can be run and named alone
// (ctest -R Conformance.Row/Hive_EmptyPathOpensTheRootItself).
class Conformance : public ::testing::TestWithParam<std::tuple<Backend, std::size_t>> {};

TEST_P(Conformance, Row) {
  const auto& [backend, index] = GetParam();
  Row row = kRows[index];
  for (const Otherwise& o : kOtherwise) {
    if (row.name != std::string(o.name) || !o.applies(backend)) continue;
    const std::size_t at = o.was.empty() ? 0 : row.script.find(o.was);
    ASSERT_NE(at, std::string::npos) << "what differs is not in the row: " << o.was;
    row.script.replace(at, o.was.empty() ? row.script.size() : o.was.size(), o.is);
  }
  TempDir dir;
  std::unique_ptr<IRegistry> registry = backend.make(dir.Path());
  std::unique_ptr<IRegistry> second = backend.reopen(dir.Path());
  RunScript(*registry, row.script, second.get());
  std::unique_ptr<IRegistry> fresh = backend.reopen(dir.Path());
  for (HKEY root : backend.machine ? std::vector<HKEY>{HKEY_LOCAL_MACHINE}  // the rest is the machine's
                                   : std::vector<HKEY>{HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS})
    EXPECT_EQ(DumpTree(*fresh, root, ""), DumpTree(*registry, root, "")) << "a fresh instance reads another tree";
}

INSTANTIATE_TEST_SUITE_P(Backends, Conformance,
                         ::testing::Combine(::testing::ValuesIn(Backends()),
                                            ::testing::Range<std::size_t>(0, std::size(kRows))),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_" + kRows[std::get<1>(info.param)].name;
                         });

}  // namespace
}  // namespace zandrel::testing
