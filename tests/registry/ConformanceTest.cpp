// The registry answers every call as the Win32 registry does, one row per
// case, on every backend. A row is a script of calls with the code and the
// outputs each must give; every buffer is filled with 0xBD first and must be
// untouched past what the call may write. After each row a freshly opened
// instance must read the same tree.
//
// Steps are separated by ";". Bases: HKCR HKLM HKCU HKU, h1..h9 (handles kept
// with "as hN"), bogus, null. Strings are "quoted" (\\ \" \0 \xHH; "ab"*3
// repeats); null is a null pointer. Access: read, write, all, or 0x3F.
// Types: sz expand binary dword multi.
//   create|open BASE PATH [ACCESS] -> CODE [disp N] [as hN] [is BASE]
//   set H NAME TYPE DATA [SIZE] -> CODE     delval H NAME -> CODE
//   delkey BASE PATH -> CODE                close H -> CODE
//   enumkey H INDEX SIZE -> CODE [NAME]     (on 234 the length stays SIZE)
//   enumval H INDEX NAMESIZE DATASIZE|null [sametype] -> CODE [size N] [NAME [TYPE DATA [nul]]]
//     (nul: a NUL written after the data, not counted; on 234, NAME is what
//     the name buffer holds, or untouched; no DATA: the data buffer untouched)
//   begin|commit -> CODE; rollback
//   keys|values BASE PATH = "a|@|b"         (names in enumeration order, @ the default)
//   naming TITLE = "a|b" -> CODE            (ExtensionsNamingTitle, the same through
//                                            the plain calls)
//   @2 STEP runs the step on a second instance.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <map>
#include <tuple>

#include "support/Backends.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

constexpr BYTE kSentinel = 0xBD;
constexpr std::size_t kBuffer = 1040;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

// The steps of a script, each a list of tokens; a quoted token keeps a
// leading '"' to tell it from a word.
std::vector<std::vector<std::string>> Parse(const std::string& script) {
  std::vector<std::vector<std::string>> steps(1);
  for (std::size_t i = 0; i < script.size();) {
    if (script[i] == ' ' || script[i] == '\n') {
      ++i;
    } else if (script[i] == ';') {
      steps.emplace_back();
      ++i;
    } else if (script[i] == '"') {
      std::string text = "\"";
      for (++i; script[i] != '"'; ++i) {
        if (script[i] != '\\') {
          text += script[i];
        } else if (script[++i] == '0') {
          text += '\0';
        } else if (script[i] == 'x') {
          text += static_cast<char>(std::stoi(script.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          text += script[i];
        }
      }
      if (script[++i] == '*') {
        std::size_t used = 0;
        text = "\"" + Repeat(text.substr(1), std::stoi(script.substr(i + 1), &used));
        i += 1 + used;
      }
      steps.back().push_back(text);
    } else {
      const std::size_t end = std::min(script.find_first_of(" \n;", i), script.size());
      steps.back().push_back(script.substr(i, end - i));
      i = end;
    }
  }
  return steps;
}

class Runner {
 public:
  Runner(IRegistry& first, IRegistry* second) : first_(first), second_(second) {}

  void Step(const std::vector<std::string>& step) {
    t_ = step;
    at_ = 0;
    IRegistry& r = Peek() == "@2" && Next().size() ? *second_ : first_;
    const std::string op = Next();
    if (op == "create" || op == "open") {
      const HKEY base = Base();
      const std::string path = Next();
      const REGSAM access = Peek() == "read" ? (Next(), KEY_READ) : Peek() == "write" ? (Next(), KEY_WRITE)
                            : Peek() == "all" ? (Next(), KEY_ALL_ACCESS) : KEY_ACCESS_0x3F;
      HKEY out = 0xDEAD;
      DWORD disposition = 0;
      const char* p = path == "null" ? nullptr : path.c_str() + (path[0] == '"');
      if (Code(op == "create" ? r.RegCreateKeyExA(base, p, 0, "", 0, access, nullptr, &out, &disposition)
                              : r.RegOpenKeyExA(base, p, 0, access, &out)) != 0) {
        // Except that opening under a null key leaves it as it was.
        EXPECT_EQ(out, op == "open" && base == 0 ? HKEY{0xDEAD} : 0u) << "the handle out on failure";
      }
      while (!Peek().empty()) {
        const std::string what = Next();
        if (what == "disp") {
          EXPECT_EQ(disposition, std::stoul(Next()));
        }
        if (what == "as") handles_[Next()] = out;
        if (what == "is") {
          EXPECT_EQ(out, Base());
        }
      }
    } else if (op == "set") {
      const HKEY key = Base();
      const std::string name = Text(), type = Next(), data = Text();
      const DWORD size = Peek() != "->" ? std::stoul(Next()) : data.size();
      Code(r.RegSetValueExA(key, name.c_str(), 0, Type(type), reinterpret_cast<const BYTE*>(data.data()), size));
    } else if (op == "delval") {
      const HKEY key = Base();
      Code(r.RegDeleteValueA(key, Text().c_str()));
    } else if (op == "delkey") {
      const HKEY key = Base();
      const std::string path = Next();
      Code(r.RegDeleteKeyA(key, path == "null" ? nullptr : path.c_str() + (path[0] == '"')));
    } else if (op == "close") {
      Code(r.RegCloseKey(Base()));
    } else if (op == "begin" || op == "commit") {
      Code(op == "begin" ? r.BeginTransaction() : r.CommitTransaction());
    } else if (op == "rollback") {
      r.RollbackTransaction();
    } else if (op == "enumkey" || op == "enumval") {
      Enum(r, op == "enumkey");
    } else if (op == "keys" || op == "values") {
      const HKEY base = Base();
      const std::string path = Text();
      Next();  // "="
      EXPECT_EQ(Names(r, base, path, op == "keys"), Text());
    } else if (op == "naming") {
      const std::string title = Text();
      Next();  // "="
      const std::string expected = Text();
      for (bool plain : {false, true}) {
        std::vector<std::string> names{"stale"};
        Code(plain ? r.IRegistry::ExtensionsNamingTitle(title.c_str(), &names)
                   : r.ExtensionsNamingTitle(title.c_str(), &names));
        at_ -= 2;  // the code once more
        std::string joined;
        for (const std::string& name : names) joined += (joined.empty() ? "" : "|") + name;
        EXPECT_EQ(joined, expected) << (plain ? "through the plain calls" : "");
      }
      at_ += 2;
    } else {
      ADD_FAILURE() << "unknown step " << op;
    }
  }

 private:
  const std::string& Peek() const { return at_ < t_.size() ? t_[at_] : kNone; }
  const std::string& Next() { return at_ < t_.size() ? t_[at_++] : kNone; }
  std::string Text() {
    const std::string& token = Next();
    return token.empty() || token[0] != '"' ? token : token.substr(1);
  }
  HKEY Base() {
    static const std::map<std::string, HKEY> fixed = {{"HKCR", HKEY_CLASSES_ROOT}, {"HKLM", HKEY_LOCAL_MACHINE},
                                                      {"HKCU", HKEY_CURRENT_USER}, {"HKU", HKEY_USERS},
                                                      {"bogus", 0x7654320}, {"null", 0}};
    const std::string& token = Next();
    return fixed.count(token) != 0 ? fixed.at(token) : handles_[token];
  }
  static DWORD Type(const std::string& token) {
    static const std::map<std::string, DWORD> types = {{"sz", REG_SZ}, {"expand", REG_EXPAND_SZ}, {"binary", REG_BINARY},
                                                       {"dword", REG_DWORD}, {"multi", REG_MULTI_SZ}};
    return types.count(token) != 0 ? types.at(token) : std::stoul(token);
  }
  LONG Code(LONG code) {  // reads "-> CODE" and checks it
    EXPECT_EQ(Next(), "->");
    EXPECT_EQ(code, std::stol(Next()));
    return code;
  }
  static bool Untouched(const BYTE* b, std::size_t from) {
    while (from < kBuffer && b[from] == kSentinel) ++from;
    return from == kBuffer;
  }

  void Enum(IRegistry& r, bool keys) {
    const HKEY key = Base();
    const DWORD index = std::stoul(Next(), nullptr, 0), nameSize = std::stoul(Next());
    const std::string dataSize = keys ? "0" : Next();
    // "sametype": the type is asked into the data's size, one variable for both.
    const bool sameType = !keys && Peek() == "sametype" && Next().size();
    BYTE name[kBuffer], data[kBuffer];
    std::memset(name, kSentinel, kBuffer);
    std::memset(data, kSentinel, kBuffer);
    DWORD length = nameSize, size = dataSize == "null" ? 0 : std::stoul(dataSize), type = 0xDEAD;
    char* n = reinterpret_cast<char*>(name);
    const LONG code = Code(keys ? r.RegEnumKeyExA(key, index, n, &length, nullptr, nullptr, nullptr, nullptr)
                                : r.RegEnumValueA(key, index, n, &length, nullptr, sameType ? &size : &type,
                                                  dataSize == "null" ? nullptr : data, &size));
    if (Peek() == "size" && Next().size()) {
      EXPECT_EQ(size, std::stoul(Next())) << "the size reported";
    }
    if (code == ERROR_MORE_DATA) {
      EXPECT_EQ(length, nameSize) << "the length changed on 234";
    }
    if (code != ERROR_SUCCESS && Peek().empty()) {
      EXPECT_TRUE(Untouched(name, 0) && Untouched(data, 0)) << "a buffer written on " << code;
      return;
    }
    if (Peek().empty()) return;
    const std::string expected = Text();
    if (code == ERROR_SUCCESS || expected != "untouched") {
      if (code != ERROR_SUCCESS) length = static_cast<DWORD>(strnlen(n, kBuffer));
      EXPECT_EQ(std::string(n, length), expected);
      EXPECT_EQ(name[length], 0) << "no NUL after the name";
      EXPECT_TRUE(Untouched(name, length + 1)) << "bytes written past the name's NUL";
    } else {
      EXPECT_TRUE(Untouched(name, 0)) << "the name buffer written on " << code;
    }
    if (keys) return;
    if (Peek().empty()) {
      EXPECT_TRUE(Untouched(data, 0)) << "the data buffer written";
      return;
    }
    EXPECT_EQ(type, Type(Next()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), Text());
    const bool nul = Peek() == "nul" && Next().size();
    if (nul) {
      EXPECT_EQ(data[size], 0) << "no NUL after the value";
    }
    EXPECT_TRUE(Untouched(data, size + nul)) << "bytes written past the value";
  }

  static std::string Names(IRegistry& r, HKEY base, const std::string& path, bool keys) {
    HKEY key = 0;
    if (LONG code = r.RegOpenKeyExA(base, path.c_str(), 0, KEY_READ, &key); code != ERROR_SUCCESS)
      return "error " + std::to_string(code);
    std::string out;
    for (DWORD index = 0;; ++index) {
      char name[1024];
      DWORD length = sizeof name, size = 0;
      const LONG code = keys ? r.RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)
                             : r.RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, &size);
      if (code != ERROR_SUCCESS) {
        if (code != ERROR_NO_MORE_ITEMS) out += "|error " + std::to_string(code);
        break;
      }
      out += (index > 0 ? "|" : "") + (length == 0 && !keys ? std::string("@") : std::string(name, length));
    }
    if (key != base) r.RegCloseKey(key);
    return out;
  }

  inline static const std::string kNone;
  IRegistry& first_;
  IRegistry* second_;
  std::map<std::string, HKEY> handles_;
  std::vector<std::string> t_;
  std::size_t at_ = 0;
};

struct Row {
  const char* name;
  std::string script;
};

const std::string k255 = Repeat("n", 255), k256 = Repeat("n", 256);
const std::string kDeep = Repeat("k\\\\", 511) + "k";  // 512 levels, as script text

const Row kRows[] = {
    // Roots and handles.
    {"CreateTwiceGivesDisposition", R"(create HKCR .zzq -> 0 disp 1; create HKCR .zzq -> 0 disp 2)"},
    {"ClassesRootIsMachineSoftwareClasses",
     R"(create HKCR .zzq -> 0; open HKLM "SOFTWARE\\Classes\\.zzq" -> 0;
        create HKLM "Software\\CLASSES\\zzqfile\\shell" -> 0; open HKCR "ZZQFILE\\Shell" -> 0)"},
    {"EmptyPathOpensTheRootItself",
     R"(open HKCR "" read -> 0 is HKCR; open HKLM null read -> 0 is HKLM; open HKCU "" -> 0 is HKCU;
        open HKU "" -> 0 is HKU)"},
    {"OpeningUnderANullKeyIsInvalid", R"(open null x -> 6)"},
    {"ClosingARootSucceedsABogusHandleIsInvalid",
     R"(close HKCR -> 0; close bogus -> 6; close null -> 6; create HKCR .after -> 0)"},
    {"ClosedHandleIsInvalidForEveryCall",
     R"(create HKCR .zzq -> 0 as h1; close h1 -> 0; close h1 -> 6; open h1 "" read -> 6; enumkey h1 0 16 -> 6;
        enumval h1 0 16 16 -> 6; set h1 "" sz "x" -> 6; delkey h1 x -> 6; create h1 x -> 6)"},
    {"HandleIsCheckedBeforeThePath",
     R"(open bogus "\\x" -> 6; open bogus ")" + k256 + R"(" -> 6; create bogus "\\x" -> 6;
        create bogus ")" + k256 + R"(" -> 6; delkey bogus "\\x" -> 6; delkey bogus ")" + k256 + R"(" -> 6;
        create HKCR .gone -> 0 as h1; delkey HKCR .gone -> 0; create h1 "a\\)" + k256 + R"(" -> 1018;
        delkey h1 "\\x" -> 1018; keys HKCR "" = "")"},
    // String values read back with one NUL.
    {"StringNulNotCounted", R"(create HKCR v -> 0 as h1; set h1 "" sz "abc" 3 -> 0; enumval h1 0 1024 1024 -> 0 "" sz "abc\0")"},
    {"StringEndsWhereItsSizeSays", R"(create HKCR v -> 0 as h1; set h1 "" sz "abcX" 3 -> 0; enumval h1 0 1024 1024 -> 0 size 4 "" sz "abc\0")"},
    {"StringNulCounted", R"(create HKCR v -> 0 as h1; set h1 "" sz "abc\0" -> 0; enumval h1 0 1024 1024 -> 0 "" sz "abc\0")"},
    {"StringOfSizeZero", R"(create HKCR v -> 0 as h1; set h1 "" sz "abc" 0 -> 0; enumval h1 0 1024 1024 -> 0 "" sz "")"},
    {"StringWithEmbeddedNul",
     R"(create HKCR v -> 0 as h1; set h1 "" sz "ab\0cd" -> 0; enumval h1 0 1024 1024 -> 0 "" sz "ab\0cd\0")"},
    {"StringInCyrillic", R"(create HKCR v -> 0 as h1; set h1 "" sz "ёлка" -> 0; enumval h1 0 1024 1024 -> 0 "" sz "ёлка\0")"},
    {"OtherTypesAreKeptAsGiven",
     R"(create HKCR v -> 0 as h1; set h1 b binary "\x01\0" -> 0; set h1 d dword "\x2a\0\0\0" -> 0;
        enumval h1 0 1024 1024 -> 0 "b" binary "\x01\0"; enumval h1 1 1024 1024 -> 0 "d" dword "\x2a\0\0\0")"},
    // Value buffers.
    {"ValueBuffersExactlyLargeEnough",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "0123456789" -> 0;
        enumval h1 0 13 11 -> 0 size 11 "Content Type" sz "0123456789\0")"},
    {"DataOneByteShortGives234AndTheSizeNeeded",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "0123456789" -> 0; set h1 "" sz "ab" -> 0;
        enumval h1 0 1024 10 -> 234 size 11; enumval h1 1 1024 1024 -> 0 size 3 "" sz "ab\0")"},
    {"NameWithoutRoomForItsNulGives234AndTheData",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "x" -> 0; set h1 "" sz "ab" -> 0;
        enumval h1 0 12 1024 -> 234 size 2 untouched sz "x\0"; enumval h1 0 0 1024 -> 234 size 2 untouched sz "x\0";
        enumval h1 0 12 1 -> 234 size 2; enumval h1 0 12 null -> 234 size 2; enumval h1 1 1024 1024 -> 0 "" sz "ab\0")"},
    {"SizesAreReadBeforeAnythingIsWritten",
     R"(create HKCR v -> 0 as h1; set h1 "" sz "ab" -> 0; enumval h1 0 1024 1024 sametype -> 0 size 3)"},
    {"NullDataGivesTheSizeOnly",
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "0123456789" -> 0; enumval h1 0 1024 null -> 0 size 11)"},
    {"PastTheLastValueGives259",
     R"(create HKCR v -> 0 as h1; set h1 "" sz "ab" -> 0; enumval h1 1 1024 1024 -> 259;
        enumval h1 0xFFFFFFFF 1024 1024 -> 259)"},
    // Names.
    {"KeyNamesCompareWithoutCaseAndKeepTheirCase",
     R"(create HKCR "Zq_Title\\shell\\open\\command" -> 0; open HKCR "zq_title\\Shell\\Open\\Command" -> 0;
        keys HKCR "ZQ_TITLE\\SHELL" = "open"; create HKCR "P\\CaseKey" -> 0; create HKCR "P\\CASEKEY" -> 0 disp 2;
        keys HKCR p = "CaseKey")"},
    {"ValueNamesCompareWithoutCase",
     R"(create HKCR v -> 0 as h1; set h1 ValName sz "1" -> 0; set h1 VALNAME sz "2" -> 0;
        enumval h1 0 1024 1024 -> 0 "ValName" sz "2\0"; values HKCR v = "ValName"; delval h1 valname -> 0;
        delval h1 valname -> 2)"},
    {"CyrillicIsCaseBlind", R"(create HKCR "Ёлка\\Шар" -> 0; open HKCR "ёЛКА\\шАР" -> 0; open HKCR "ЁЛКА" -> 0)"},
    {"GreekIsCaseBlind", R"(create HKCR "σοφία" -> 0; open HKCR "ΣΟΦΊΑ" -> 0)"},
    {"NoMultiCharacterFolding", R"(create HKCR "straße" -> 0; open HKCR "STRASSE" -> 2; open HKCR "STRAßE" -> 0)"},
    {"NoFoldingOntoAscii",
     R"(create HKCR "ı" -> 0; open HKCR "I" -> 2; create HKCR k -> 0; open HKCR "\xE2\x84\xAA" -> 2; open HKCR absent -> 2)"},
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
     R"(create HKCR ")" + k255 + R"(" -> 0; create HKCR ")" + k256 + R"(" -> 87; open HKCR ")" + k256 +
         R"(" -> 87; create HKCR "ok\\)" + k256 + R"(" -> 87; create HKCR "ж"*255 -> 0; create HKCR "ж"*256 -> 87;
         keys HKCR "" = ")" + k255 + "|" + Repeat("ж", 255) + R"(")"},
    {"ValueNamesUpTo16383Characters",
     R"(create HKCR v -> 0 as h1; set h1 "v"*16383 sz "x" -> 0; set h1 "v"*16384 sz "x" -> 87)"},
    {"NestingStopsAt512Levels",
     R"(create HKCR ")" + kDeep + R"(" -> 0; create HKCR ")" + kDeep + R"(\\deeper" -> 87;
        create HKLM "SOFTWARE\\Classes\\)" + kDeep + R"(\\deeper" -> 87; create HKCR "fresh\\)" + kDeep +
         R"(" -> 87; keys HKCR "" = "k")"},
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
    {"WriteHandleCannotEnumerate", R"(create HKCR ".zzq\\c" -> 0; open HKCR .zzq write -> 0 as h1; enumkey h1 0 16 -> 5)"},
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

// Rows as a backend answers them where it differs, and the one place that
// names how: Wine's registry (Wine 8, measured) against Windows, which the
// hive follows; and the machine's registry in a sandbox with an undo record.
struct Otherwise {
  const char* name;
  bool (*applies)(const Backend&);
  std::string script;
};

bool Wine(const Backend& b) { return b.wine; }
bool Machine(const Backend& b) { return b.machine; }

const Otherwise kOtherwise[] = {
    // Windows and Wine read the byte after a string's data, and store a NUL
    // only when that byte is one (the hive reads only the data given); a
    // string stored without one reads back with a NUL after it, not counted,
    // when the buffer has room.
    {"StringEndsWhereItsSizeSays", Machine,
     R"(create HKCR v -> 0 as h1; set h1 "" sz "abcX" 3 -> 0; enumval h1 0 1024 1024 -> 0 size 3 "" sz "abc" nul;
        enumval h1 0 1024 3 -> 0 size 3 "" sz "abc")"},
    // Wine enumerates values sorted by name, not in creation order; on 234 for
    // a short name buffer it also writes the name, cut short.
    {"DataOneByteShortGives234AndTheSizeNeeded", Wine,
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "0123456789" -> 0; set h1 "" sz "ab" -> 0;
        enumval h1 1 1024 10 -> 234 size 11; enumval h1 0 1024 1024 -> 0 size 3 "" sz "ab\0")"},
    {"NameWithoutRoomForItsNulGives234AndTheData", Wine,
     R"(create HKCR v -> 0 as h1; set h1 "Content Type" sz "x" -> 0; set h1 "" sz "ab" -> 0;
        enumval h1 1 12 1024 -> 234 size 2 "Content Typ" sz "x\0"; enumval h1 1 0 1024 -> 234 size 2 untouched sz "x\0";
        enumval h1 1 12 1 -> 234 size 2; enumval h1 1 12 null -> 234 size 2 "Content Typ";
        enumval h1 0 1024 1024 -> 0 "" sz "ab\0")"},
    {"ValuesInCreationOrderARewriteKeepsItsPlace", Wine,
     R"(create HKCR v -> 0 as h1; set h1 zeta sz 1 -> 0; set h1 Alpha sz 1 -> 0; set h1 "" sz 1 -> 0;
        set h1 mid sz 1 -> 0; set h1 ALPHA dword "\x01\0\0\0" -> 0; delval h1 zeta -> 0; set h1 zeta sz 2 -> 0;
        values HKCR v = "@|Alpha|mid|zeta"; enumval h1 1 1024 1024 -> 0 "Alpha" dword "\x01\0\0\0")"},
    // Wine enumerates subkeys sorted by their lower-cased names.
    {"SubkeysInTheOrderOfTheirUpperCasedNames", Wine,
     R"(create HKCR b -> 0; create HKCR A -> 0; create HKCR c -> 0; create HKCR B2 -> 0; create HKCR .x -> 0;
        create HKCR ._sln -> 0; create HKCR .zip -> 0; create HKCR "Ё" -> 0; create HKCR "я" -> 0; create HKCR _ -> 0;
        keys HKCR "" = "._sln|.x|.zip|_|A|b|B2|c|я|Ё")"},
    // Wine takes a key name of 256 characters.
    {"KeyNamesUpTo255Characters", Wine,
     R"(create HKCR ")" + k256 + R"(" -> 0; create HKCR "n"*257 -> 87; create HKCR "ж"*256 -> 0; create HKCR "ж"*257 -> 87)"},
    // Wine answers 234 to a path longer than MAX_PATH.
    {"NestingStopsAt512Levels", Wine, R"(create HKCR ")" + kDeep + R"(" -> 234; keys HKCR "" = "")"},
    {"AFailingCallInATransactionUndoesOnlyItself", Wine,
     R"(begin -> 0; create HKCR .kept -> 0; create HKCR "fresh\)" + kDeep + R"(" -> 234; commit -> 0;
        keys HKCR "" = ".kept")"},
    // The sandbox's roots are keys of their own, and deletable.
    {"FixedRootsCannotBeDeleted", Machine, R"(delkey HKCR null -> 87; create HKCR x -> 0)"},
    // The undo record makes a change all-or-nothing, not invisible until committed.
    {"OthersSeeACommitOnlyOnceMade", Machine,
     R"(@2 keys HKCR "" = ""; begin -> 0; create HKCR .new -> 0; @2 keys HKCR "" = ".new"; commit -> 0;
        @2 keys HKCR "" = ".new")"},
};

// One test a row and backend, so that a row can be run and named alone
// (ctest -R Conformance.Row/Hive_EmptyPathOpensTheRootItself).
class Conformance : public ::testing::TestWithParam<std::tuple<Backend, std::size_t>> {};

TEST_P(Conformance, Row) {
  const auto& [backend, index] = GetParam();
  Row row = kRows[index];
  for (const Otherwise& o : kOtherwise)
    if (row.name == std::string(o.name) && o.applies(backend)) row.script = o.script;
  TempDir dir;
  std::unique_ptr<IRegistry> registry = backend.make(dir.Path());
  std::unique_ptr<IRegistry> second = backend.reopen(dir.Path());
  Runner runner(*registry, second.get());
  for (const auto& step : Parse(row.script)) {
    std::string text;
    for (const std::string& t : step) text += (text.empty() ? "" : " ") + t.substr(0, 40);
    SCOPED_TRACE(text);
    runner.Step(step);
  }
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
