// The hive answers every call as the Win32 registry does (the measured facts),
// row by row, with sentinel bytes after every buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HiveTestSupport.h"

namespace zandrel::hive::testing {
namespace {

constexpr BYTE kSentinel = 0xBD;

// Buffers of 1024 bytes plus a tail, all filled with the sentinel.
struct Buffers {
  char name[1024 + 16];
  BYTE data[1024 + 16];
  Buffers() {
    std::memset(name, kSentinel, sizeof name);
    std::memset(data, kSentinel, sizeof data);
  }
  static bool Untouched(const void* p, std::size_t from, std::size_t to) {
    const auto* b = static_cast<const BYTE*>(p);
    for (std::size_t i = from; i < to; ++i) {
      if (b[i] != kSentinel) return false;
    }
    return true;
  }
};

using RegistryRoots = HiveTest;

TEST_F(RegistryRoots, CreateTwiceReportsDisposition) {
  DWORD disposition = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq", nullptr, &disposition), 0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq", nullptr, &disposition), 0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
}

TEST_F(RegistryRoots, ClassesRootIsMachineSoftwareClasses) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zzq", "", "zzqfile"), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zzq"),
            "[]\n\"\" = 1:7a7a7166696c6500\n");
  // And the other way round.
  ASSERT_EQ(CreateKey(*reg_, HKEY_LOCAL_MACHINE, "Software\\CLASSES\\zzqfile\\shell"), 0);
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, "ZZQFILE\\Shell"));
}

TEST_F(RegistryRoots, EmptyPathOfRootReturnsRootItself) {
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
    HKEY key = 0xDEAD;
    EXPECT_EQ(reg_->RegOpenKeyExA(root, "", 0, KEY_READ, &key), 0);
    EXPECT_EQ(key, root);
    key = 0xDEAD;
    EXPECT_EQ(reg_->RegOpenKeyExA(root, nullptr, 0, KEY_READ, &key), 0);
    EXPECT_EQ(key, root);
  }
}

TEST_F(RegistryRoots, CloseRootSucceedsAndBogusHandleIsInvalid) {
  EXPECT_EQ(reg_->RegCloseKey(HKEY_CLASSES_ROOT), 0);
  EXPECT_EQ(reg_->RegCloseKey(0x1234567), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg_->RegCloseKey(0), ERROR_INVALID_HANDLE);
  HKEY key = 0;
  ASSERT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &key), 0);
  EXPECT_EQ(reg_->RegCloseKey(key), 0);
  // The root stays usable after being "closed".
  EXPECT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".after"), 0);
}

TEST_F(RegistryRoots, ClosedHandleIsInvalidForEveryCall) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq", &key), 0);
  ASSERT_EQ(reg_->RegCloseKey(key), 0);
  EXPECT_EQ(reg_->RegCloseKey(key), ERROR_INVALID_HANDLE);
  HKEY out = 0;
  EXPECT_EQ(reg_->RegOpenKeyExA(key, "", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  char name[16];
  DWORD length = sizeof name;
  EXPECT_EQ(reg_->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);
  const BYTE data[] = "x";
  EXPECT_EQ(reg_->RegSetValueExA(key, "", 0, REG_SZ, data, 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(reg_->RegDeleteKeyA(key, "x"), ERROR_INVALID_HANDLE);
}

// A handle that is no good is reported before anything wrong with the path.
struct HandleFirstRow {
  const char* label;
  const char* call;  // "open", "create" or "delete"
  const char* handle;  // "bogus", "closed" or "deleted"
  std::string path;
  LONG expected;
};
void PrintTo(const HandleFirstRow& row, std::ostream* os) { *os << row.label; }

class HandleBeforePath : public HiveTest, public ::testing::WithParamInterface<HandleFirstRow> {};

TEST_P(HandleBeforePath, HandleIsCheckedFirst) {
  const HandleFirstRow& row = GetParam();
  const std::string handle_kind = row.handle;
  HKEY key = 0x7654320;  // never handed out
  if (handle_kind != "bogus") {
    ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".gone", &key), 0);
    if (handle_kind == "closed") {
      ASSERT_EQ(reg_->RegCloseKey(key), 0);
    } else {
      ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".gone"), 0);
    }
  }
  const std::string before = Dump(*reg_, HKEY_CLASSES_ROOT, "");
  const std::string call = row.call;
  HKEY out = 0xDEAD;
  LONG code = -1;
  if (call == "open") {
    code = reg_->RegOpenKeyExA(key, row.path.c_str(), 0, KEY_READ, &out);
  } else if (call == "create") {
    code = reg_->RegCreateKeyExA(key, row.path.c_str(), 0, "", 0, KEY_ALL_ACCESS, nullptr, &out,
                                 nullptr);
  } else {
    code = reg_->RegDeleteKeyA(key, row.path.c_str());
    out = 0;
  }
  EXPECT_EQ(code, row.expected);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), before);
}

const std::string kLongName(256, 'n');

INSTANTIATE_TEST_SUITE_P(
    Registry, HandleBeforePath,
    ::testing::Values(
        HandleFirstRow{"OpenBogusBackslash", "open", "bogus", "\\x", ERROR_INVALID_HANDLE},
        HandleFirstRow{"OpenBogusLongName", "open", "bogus", kLongName, ERROR_INVALID_HANDLE},
        HandleFirstRow{"CreateBogusBackslash", "create", "bogus", "\\x", ERROR_INVALID_HANDLE},
        HandleFirstRow{"CreateBogusLongName", "create", "bogus", kLongName, ERROR_INVALID_HANDLE},
        HandleFirstRow{"CreateClosedBackslash", "create", "closed", "\\x",
                       ERROR_INVALID_HANDLE},
        HandleFirstRow{"CreateDeletedLongName", "create", "deleted", "a\\" + kLongName,
                       ERROR_KEY_DELETED},
        HandleFirstRow{"CreateBogusGoodPath", "create", "bogus", "x", ERROR_INVALID_HANDLE},
        HandleFirstRow{"DeleteBogusBackslash", "delete", "bogus", "\\x", ERROR_INVALID_HANDLE},
        HandleFirstRow{"DeleteBogusLongName", "delete", "bogus", kLongName, ERROR_INVALID_HANDLE},
        HandleFirstRow{"DeleteClosedLongName", "delete", "closed", kLongName,
                       ERROR_INVALID_HANDLE},
        HandleFirstRow{"DeleteDeletedBackslash", "delete", "deleted", "\\x",
                       ERROR_KEY_DELETED},
        HandleFirstRow{"DeleteBogusGoodPath", "delete", "bogus", "x", ERROR_INVALID_HANDLE}),
    [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------

struct StringRow {
  const char* label;
  std::string data;      // bytes passed to RegSetValueExA
  DWORD size;            // size passed
  std::string expected;  // bytes enumerated back (size is its length)
};
void PrintTo(const StringRow& row, std::ostream* os) { *os << row.label; }

class StringValues : public HiveTest, public ::testing::WithParamInterface<StringRow> {};

TEST_P(StringValues, EnumeratedBackWithOneNul) {
  const StringRow& row = GetParam();
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq", &key), 0);
  ASSERT_EQ(reg_->RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(row.data.data()),
                                 row.size),
            0);
  Buffers b;
  DWORD name_length = 1024, size = 1024, type = 99;
  ASSERT_EQ(reg_->RegEnumValueA(key, 0, b.name, &name_length, nullptr, &type, b.data, &size), 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(name_length, 0u);
  EXPECT_EQ(b.name[0], '\0');
  EXPECT_TRUE(Buffers::Untouched(b.name, 1, sizeof b.name));
  ASSERT_EQ(size, row.expected.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data), size), row.expected);
  EXPECT_TRUE(Buffers::Untouched(b.data, size, sizeof b.data)) << "bytes written past the value";
  EXPECT_EQ(reg_->RegEnumValueA(key, 1, b.name, &name_length, nullptr, &type, b.data, &size),
            ERROR_NO_MORE_ITEMS);
  reg_->RegCloseKey(key);
  // The same through a fresh instance.
  auto fresh = Reopen();
  EXPECT_EQ(Dump(*fresh, HKEY_CLASSES_ROOT, ".zzq"), Dump(*reg_, HKEY_CLASSES_ROOT, ".zzq"));
}

INSTANTIATE_TEST_SUITE_P(
    Facts, StringValues,
    ::testing::Values(StringRow{"NulNotCounted", "abc", 3, std::string("abc\0", 4)},
                      StringRow{"NulCounted", std::string("abc\0", 4), 4, std::string("abc\0", 4)},
                      StringRow{"SizeZero", "abc", 0, ""},
                      StringRow{"EmbeddedNul", std::string("ab\0cd", 5), 5,
                                std::string("ab\0cd\0", 6)},
                      StringRow{"Cyrillic", "ёлка", 8, std::string("ёлка\0", 9)}),
    [](const auto& info) { return std::string(info.param.label); });

class ValueBuffers : public HiveTest {
 protected:
  void SetUp() override {
    HiveTest::SetUp();
    ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq", &key_), 0);
    const std::string first = "0123456789";  // 11 bytes with its NUL
    ASSERT_EQ(reg_->RegSetValueExA(key_, "Content Type", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(first.data()), 10),
              0);
    ASSERT_EQ(reg_->RegSetValueExA(key_, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab"), 2), 0);
  }
  HKEY key_ = 0;
};

TEST_F(ValueBuffers, DataOneByteShortGivesMoreDataAndTouchesNothing) {
  Buffers b;
  DWORD name_length = 1024, size = 10, type = 99;
  EXPECT_EQ(reg_->RegEnumValueA(key_, 0, b.name, &name_length, nullptr, &type, b.data, &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u) << "size set to the size needed";
  EXPECT_EQ(name_length, 1024u);
  EXPECT_TRUE(Buffers::Untouched(b.name, 0, sizeof b.name)) << "name untouched";
  EXPECT_TRUE(Buffers::Untouched(b.data, 0, sizeof b.data)) << "data untouched";
  // The next index still works.
  name_length = 1024, size = 1024;
  ASSERT_EQ(reg_->RegEnumValueA(key_, 1, b.name, &name_length, nullptr, &type, b.data, &size), 0);
  EXPECT_EQ(name_length, 0u);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(std::memcmp(b.data, "ab\0", 3), 0);
}

TEST_F(ValueBuffers, DataExactlyLargeEnoughSucceeds) {
  Buffers b;
  DWORD name_length = 13, size = 11, type = 99;  // "Content Type" is 12 characters
  ASSERT_EQ(reg_->RegEnumValueA(key_, 0, b.name, &name_length, nullptr, &type, b.data, &size), 0);
  EXPECT_EQ(std::string(b.name), "Content Type");
  EXPECT_EQ(name_length, 12u);
  EXPECT_TRUE(Buffers::Untouched(b.name, 13, sizeof b.name));
  EXPECT_EQ(size, 11u);
  EXPECT_TRUE(Buffers::Untouched(b.data, 11, sizeof b.data));
}

TEST_F(ValueBuffers, NameBufferTooSmallGivesMoreData) {
  Buffers b;
  DWORD name_length = 12, size = 1024, type = 99;  // no room for the NUL
  EXPECT_EQ(reg_->RegEnumValueA(key_, 0, b.name, &name_length, nullptr, &type, b.data, &size),
            ERROR_MORE_DATA);
  EXPECT_TRUE(Buffers::Untouched(b.name, 0, sizeof b.name));
  EXPECT_TRUE(Buffers::Untouched(b.data, 0, sizeof b.data));
  name_length = 1024;
  EXPECT_EQ(reg_->RegEnumValueA(key_, 1, b.name, &name_length, nullptr, &type, b.data, &size), 0);
}

TEST_F(ValueBuffers, NullDataReportsSizeOnly) {
  Buffers b;
  DWORD name_length = 1024, size = 0, type = 99;
  ASSERT_EQ(reg_->RegEnumValueA(key_, 0, b.name, &name_length, nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, REG_SZ);
}

TEST_F(ValueBuffers, PastTheEndGivesNoMoreItems) {
  Buffers b;
  DWORD name_length = 1024, size = 1024, type = 99;
  EXPECT_EQ(reg_->RegEnumValueA(key_, 2, b.name, &name_length, nullptr, &type, b.data, &size),
            ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(
      reg_->RegEnumValueA(key_, 0xFFFFFFFF, b.name, &name_length, nullptr, &type, b.data, &size),
      ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(Buffers::Untouched(b.name, 0, sizeof b.name));
}

// ---------------------------------------------------------------------------

using RegistryNames = HiveTest;

TEST_F(RegistryNames, KeyNamesCompareWithoutCaseAndKeepCreatedCase) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "Zq_Title\\shell\\open\\command"), 0);
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, "zq_title\\Shell\\Open\\Command"));
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "ZQ_TITLE"),
            "[]\n[shell]\n[shell\\open]\n[shell\\open\\command]\n");
}

TEST_F(RegistryNames, SecondCreateInOtherCaseOpensTheFirst) {
  DWORD disposition = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "Parent\\CaseKey"), 0);
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "Parent\\CASEKEY", nullptr, &disposition), 0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "Parent"), "[]\n[CaseKey]\n");
}

TEST_F(RegistryNames, ValueNamesCompareWithoutCase) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "V", &key), 0);
  ASSERT_EQ(reg_->RegSetValueExA(key, "ValName", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 1),
            0);
  ASSERT_EQ(reg_->RegSetValueExA(key, "VALNAME", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 1),
            0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "V"), "[]\n\"ValName\" = 1:3200\n");
  EXPECT_EQ(reg_->RegDeleteValueA(key, "valname"), 0);
  EXPECT_EQ(reg_->RegDeleteValueA(key, "valname"), ERROR_FILE_NOT_FOUND);
  reg_->RegCloseKey(key);
}

struct NameRow {
  const char* label;
  std::string create;
  std::string open;
  LONG expected;
};
void PrintTo(const NameRow& row, std::ostream* os) { *os << row.label; }

class NameMatching : public HiveTest, public ::testing::WithParamInterface<NameRow> {};

TEST_P(NameMatching, OpensOrNot) {
  const NameRow& row = GetParam();
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, row.create), 0);
  HKEY key = 0xDEAD;
  EXPECT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, row.open.c_str(), 0, KEY_READ, &key),
            row.expected);
  if (row.expected != 0) {
    EXPECT_EQ(key, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Facts, NameMatching,
    ::testing::Values(NameRow{"CyrillicIsCaseBlind", "ёлка", "ЁЛКА", 0},
                      NameRow{"CyrillicMixed", "Ёлка\\Шар", "ёЛКА\\шАР", 0},
                      NameRow{"GreekIsCaseBlind", "σοφία", "ΣΟΦΊΑ", 0},
                      NameRow{"NoMultiCharacterFolding", "straße", "STRASSE", ERROR_FILE_NOT_FOUND},
                      NameRow{"SharpSKeepsItself", "straße", "STRAßE", 0},
                      NameRow{"DotlessIIsNotI", "ı", "I", ERROR_FILE_NOT_FOUND},
                      NameRow{"AsciiOnlyMatchesAscii", "k", "\xE2\x84\xAA" /* Kelvin */,
                              ERROR_FILE_NOT_FOUND},
                      NameRow{"MissingKey", "present", "absent", ERROR_FILE_NOT_FOUND}),
    [](const auto& info) { return std::string(info.param.label); });

struct PathRow {
  const char* label;
  std::string path;
  LONG expected;
  std::string dump;  // of the whole classes root afterwards
};
void PrintTo(const PathRow& row, std::ostream* os) { *os << row.label; }

class PathShapes : public HiveTest, public ::testing::WithParamInterface<PathRow> {};

TEST_P(PathShapes, CreateThenDump) {
  const PathRow& row = GetParam();
  HKEY key = 0xDEAD;
  DWORD disposition = 0;
  EXPECT_EQ(reg_->RegCreateKeyExA(HKEY_CLASSES_ROOT, row.path.c_str(), 0, "", 0, KEY_ACCESS_0x3F,
                                  nullptr, &key, &disposition),
            row.expected);
  if (row.expected != 0) {
    EXPECT_EQ(key, 0u);
  }
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""), row.dump);
  // Opening follows the same rules.
  key = 0xDEAD;
  EXPECT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, row.path.c_str(), 0, KEY_READ, &key),
            row.expected);
}

const std::string k255(255, 'n');
const std::string k256(256, 'n');
std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Facts, PathShapes,
    ::testing::Values(
        PathRow{"TrailingBackslash", "foo\\", 0, "[]\n[foo]\n"},
        PathRow{"EmptyComponent", "a\\\\b", 0, "[]\n[a]\n[a\\b]\n"},
        PathRow{"EmptyComponentAndTrailing", "a\\b\\", 0, "[]\n[a]\n[a\\b]\n"},
        PathRow{"LeadingBackslash", "\\foo", ERROR_BAD_PATHNAME, "[]\n"},
        PathRow{"OnlyBackslash", "\\", ERROR_BAD_PATHNAME, "[]\n"},
        PathRow{"Name255", k255, 0, "[]\n[" + k255 + "]\n"},
        PathRow{"Name256", k256, ERROR_INVALID_PARAMETER, "[]\n"},
        PathRow{"Name256Deeper", "ok\\" + k256, ERROR_INVALID_PARAMETER, "[]\n"},
        PathRow{"Cyrillic255", Repeat("ж", 255), 0, "[]\n[" + Repeat("ж", 255) + "]\n"},
        PathRow{"Cyrillic256", Repeat("ж", 256), ERROR_INVALID_PARAMETER, "[]\n"},
        PathRow{"Malformed255", std::string(255, '\xFF'), 0,
                "[]\n[" + std::string(255, '\xFF') + "]\n"},
        PathRow{"Malformed256", std::string(256, '\xC3'), ERROR_INVALID_PARAMETER, "[]\n"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RegistryNames, LeadingBackslashRelativeToOpenedKey) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "base", &key), 0);
  HKEY out = 0xDEAD;
  EXPECT_EQ(reg_->RegCreateKeyExA(key, "\\foo", 0, "", 0, KEY_ACCESS_0x3F, nullptr, &out, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(reg_->RegOpenKeyExA(key, "\\", 0, KEY_READ, &out), ERROR_BAD_PATHNAME);
  EXPECT_EQ(reg_->RegDeleteKeyA(key, "\\foo"), ERROR_BAD_PATHNAME);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "base"), "[]\n");
  reg_->RegCloseKey(key);
}

TEST_F(RegistryNames, LongValueNamesAreRefused) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "v", &key), 0);
  const std::string ok(16383, 'v');
  const std::string too_long(16384, 'v');
  EXPECT_EQ(reg_->RegSetValueExA(key, ok.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1),
            0);
  EXPECT_EQ(
      reg_->RegSetValueExA(key, too_long.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1),
      ERROR_INVALID_PARAMETER);
  reg_->RegCloseKey(key);
}

// ---------------------------------------------------------------------------

using Enumeration = HiveTest;

TEST_F(Enumeration, SubkeysSortedByUpperCasedName) {
  for (const char* name : {"b", "A", "c", "B2", ".x", "._sln", ".zip", "Ё", "я", "_"}) {
    ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, name), 0) << name;
  }
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ""),
            "[]\n[.x]\n[.zip]\n[._sln]\n[A]\n[b]\n[B2]\n[c]\n[_]\n[Ё]\n[я]\n")
      << "'.zip' sorts before '._sln' by upper-cased name";
}

TEST_F(Enumeration, ValuesInCreationOrderAndRewriteKeepsPlace) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "v", &key), 0);
  for (const char* name : {"zeta", "Alpha", "", "mid"}) {
    ASSERT_EQ(reg_->RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 1), 0);
  }
  ASSERT_EQ(reg_->RegSetValueExA(key, "ALPHA", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>("\x01\x00\x00\x00"), 4),
            0);
  ASSERT_EQ(reg_->RegDeleteValueA(key, "zeta"), 0);
  ASSERT_EQ(reg_->RegSetValueExA(key, "zeta", 0, REG_SZ, reinterpret_cast<const BYTE*>("2"), 1), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "v"),
            "[]\n\"Alpha\" = 4:01000000\n\"\" = 1:3100\n\"mid\" = 1:3100\n\"zeta\" = 1:3200\n");
  reg_->RegCloseKey(key);
}

TEST_F(Enumeration, NameBufferTooSmallLeavesLengthAndBuffer) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "p", &key), 0);
  ASSERT_EQ(CreateKey(*reg_, key, "longname"), 0);
  ASSERT_EQ(CreateKey(*reg_, key, "s"), 0);
  Buffers b;
  DWORD length = 8;  // "longname" needs 9 with its NUL
  EXPECT_EQ(reg_->RegEnumKeyExA(key, 0, b.name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(length, 8u) << "length left as passed";
  EXPECT_TRUE(Buffers::Untouched(b.name, 0, sizeof b.name));
  length = 9;
  ASSERT_EQ(reg_->RegEnumKeyExA(key, 0, b.name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(std::string(b.name), "longname");
  EXPECT_TRUE(Buffers::Untouched(b.name, 9, sizeof b.name));
  length = 2;
  ASSERT_EQ(reg_->RegEnumKeyExA(key, 1, b.name, &length, nullptr, nullptr, nullptr, nullptr), 0)
      << "the next index still works";
  EXPECT_EQ(std::string(b.name), "s");
  length = 256;
  EXPECT_EQ(reg_->RegEnumKeyExA(key, 2, b.name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  reg_->RegCloseKey(key);
}

TEST_F(Enumeration, ClassAndTimeOutputsAreFilled) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "p\\c"), 0);
  HKEY key = 0;
  ASSERT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, "p", 0, KEY_READ, &key), 0);
  char name[256];
  DWORD length = 256;
  char cls[8] = "xxxxxxx";
  DWORD cls_length = 8;
  FILETIME time{7, 7};
  ASSERT_EQ(reg_->RegEnumKeyExA(key, 0, name, &length, nullptr, cls, &cls_length, &time), 0);
  EXPECT_EQ(cls[0], '\0');
  EXPECT_EQ(cls_length, 0u);
  reg_->RegCloseKey(key);
}

TEST_F(Enumeration, SeesKeysAddedAndRemovedBetweenCalls) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "p", &key), 0);
  ASSERT_EQ(CreateKey(*reg_, key, "b"), 0);
  char name[256];
  DWORD length = 256;
  ASSERT_EQ(reg_->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(name, "b");
  ASSERT_EQ(CreateKey(*reg_, key, "a"), 0);
  length = 256;
  ASSERT_EQ(reg_->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(name, "a");
  ASSERT_EQ(reg_->RegDeleteKeyA(key, "a"), 0);
  length = 256;
  EXPECT_EQ(reg_->RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  reg_->RegCloseKey(key);
}

// ---------------------------------------------------------------------------

using Deleting = HiveTest;

TEST_F(Deleting, KeyWithSubkeysIsRefused) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "title\\shell\\open\\command"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, "title", "", "t"), 0);
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, "title"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "title"),
            "[]\n\"\" = 1:7400\n[shell]\n[shell\\open]\n[shell\\open\\command]\n");
}

TEST_F(Deleting, LeafThenAgainThenMissingParents) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zzq"), 0);
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zzq"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, "no\\such\\key"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".zzq"));
}

TEST_F(Deleting, DeletesTheKeysValuesWithIt) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zzq", "", "zzqfile"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zzq", "Content Type", "text/zzq"), 0);
  ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zzq"), 0);
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".zzq"), "[]\n");
}

TEST_F(Deleting, PathRelativeToOpenedKey) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "t\\shell\\open\\command"), 0);
  ASSERT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, "t", 0, KEY_READ, &key), 0);
  EXPECT_EQ(reg_->RegDeleteKeyA(key, "shell\\open\\command"), 0);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, "t"), "[]\n[shell]\n[shell\\open]\n");
  reg_->RegCloseKey(key);
}

TEST_F(Deleting, FixedRootsCannotBeDeleted) {
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(Deleting, HandleOfDeletedKeyAnswersKeyDeleted) {
  HKEY key = 0;
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq", &key), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zzq", "", "x"), 0);
  ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".zzq"), 0);
  Buffers b;
  DWORD name_length = 1024, size = 1024, type = 0;
  EXPECT_EQ(reg_->RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("a"), 1),
            ERROR_KEY_DELETED);
  EXPECT_EQ(reg_->RegEnumValueA(key, 0, b.name, &name_length, nullptr, &type, b.data, &size),
            ERROR_KEY_DELETED);
  HKEY sub = 0xDEAD;
  EXPECT_EQ(reg_->RegCreateKeyExA(key, "sub", 0, "", 0, KEY_ACCESS_0x3F, nullptr, &sub, nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(sub, 0u);
  DWORD length = 256;
  EXPECT_EQ(reg_->RegEnumKeyExA(key, 0, b.name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_KEY_DELETED);
  // A key of the same name made afterwards is another key.
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  EXPECT_EQ(reg_->RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("a"), 1),
            ERROR_KEY_DELETED);
  EXPECT_EQ(reg_->RegCloseKey(key), 0);
  EXPECT_FALSE(KeyExists(*reg_, HKEY_CLASSES_ROOT, ".zzq\\sub"));
}

// ---------------------------------------------------------------------------

using AccessRights = HiveTest;

TEST_F(AccessRights, ReadHandleCannotWriteValuesButCanCreateChild) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  ASSERT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zzq", "v", "x"), 0);
  HKEY key = 0;
  ASSERT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".zzq", 0, KEY_READ, &key), 0);
  EXPECT_EQ(reg_->RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("a"), 1),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg_->RegDeleteValueA(key, "v"), ERROR_ACCESS_DENIED);
  HKEY child = 0;
  EXPECT_EQ(
      reg_->RegCreateKeyExA(key, "child", 0, "", 0, KEY_ACCESS_0x3F, nullptr, &child, nullptr), 0);
  reg_->RegCloseKey(child);
  reg_->RegCloseKey(key);
  EXPECT_EQ(Dump(*reg_, HKEY_CLASSES_ROOT, ".zzq"), "[]\n\"v\" = 1:7800\n[child]\n");
}

TEST_F(AccessRights, WriteHandleSetsValues) {
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, ".zzq"), 0);
  EXPECT_EQ(SetString(*reg_, HKEY_CLASSES_ROOT, ".zzq", "", "a"), 0);
  HKEY key = 0;
  ASSERT_EQ(reg_->RegOpenKeyExA(HKEY_CLASSES_ROOT, ".zzq", 0, KEY_WRITE, &key), 0);
  char name[16];
  DWORD length = 16;
  EXPECT_EQ(reg_->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  reg_->RegCloseKey(key);
}

// ---------------------------------------------------------------------------

using Nesting = HiveTest;

TEST_F(Nesting, FiveHundredTwelveLevelsAndNoDeeper) {
  std::string path;
  for (int i = 0; i < 512; ++i) {
    if (i) path += '\\';
    path += 'k';
  }
  ASSERT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, path), 0);
  EXPECT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, path + "\\deeper"), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(KeyExists(*reg_, HKEY_CLASSES_ROOT, path + "\\deeper"));
  // Counted from the classes root also when reached through HKLM.
  EXPECT_EQ(CreateKey(*reg_, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + path + "\\deeper"),
            ERROR_INVALID_PARAMETER);
  // A failed deep creation leaves none of its new keys behind.
  EXPECT_EQ(CreateKey(*reg_, HKEY_CLASSES_ROOT, "fresh\\" + path), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(KeyExists(*reg_, HKEY_CLASSES_ROOT, "fresh"));
}

}  // namespace
}  // namespace zandrel::hive::testing
