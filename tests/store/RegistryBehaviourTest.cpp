// What the store relies on from any registry: run against the in-memory model
// and the hive alike, so the two agree where it matters.
#include "registry/Registry.h"
#include "store/StoreFixture.h"

namespace zandrel::testing {
namespace {

class RegistryBehaviour : public StoreTest {};

TEST_P(RegistryBehaviour, ClassesRootIsMachineSoftwareClasses) {
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(registry->RegCreateKeyExA(HKEY_CLASSES_ROOT, ".zzq", 0, "", 0, 0x3F, nullptr, &key, &disposition), 0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  registry->RegCloseKey(key);
  ASSERT_EQ(registry->RegCreateKeyExA(HKEY_CLASSES_ROOT, ".zzq", 0, "", 0, 0x3F, nullptr, &key, &disposition), 0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  registry->RegCloseKey(key);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zzq"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "software\\classes\\.ZZQ"));
}

TEST_P(RegistryBehaviour, NamesCompareWithoutCaseAndKeepTheirCase) {
  ASSERT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, "Zq_Title\\shell\\open\\command"), 0);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "zq_title\\Shell\\Open\\Command"));
  ASSERT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, "ёлка"), 0);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "ЁЛКА"));
  ASSERT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, "straße"), 0);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "STRASSE"));
  ASSERT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, "CASEKEY"), 0);
  ASSERT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, "casekey"), 0);
  ASSERT_EQ(SeedValue(*registry, HKEY_CLASSES_ROOT, "CaseKey", "ValName", REG_SZ, "a"), 0);
  ASSERT_EQ(SeedValue(*registry, HKEY_CLASSES_ROOT, "CaseKey", "VALNAME", REG_SZ, "b"), 0);
  EXPECT_EQ(DumpTree(*registry, HKEY_CLASSES_ROOT, "casekey"),
            "[casekey]\n  \"ValName\" type 1 size 2: 62 00\n");
  HKEY key = 0;
  ASSERT_EQ(registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, "", 0, KEY_READ, &key), 0);
  EXPECT_EQ(key, HKEY_CLASSES_ROOT);
}

TEST_P(RegistryBehaviour, SubkeysSortByUpperCasedNameValuesKeepCreationOrder) {
  for (const char* name : {"b", "A", "c", "B2", ".x", "._sln", ".zip"}) SeedKey(*registry, HKEY_CLASSES_ROOT, std::string("T\\") + name);
  for (const char* name : {"zeta", "", "alpha"}) SeedValue(*registry, HKEY_CLASSES_ROOT, "T", name, REG_SZ, name);
  EXPECT_EQ(DumpTree(*registry, HKEY_CLASSES_ROOT, "T"),
            "[T]\n"
            "  \"zeta\" type 1 size 5: 7a 65 74 61 00\n"
            "  @ type 1 size 0: \n"
            "  \"alpha\" type 1 size 6: 61 6c 70 68 61 00\n"
            "[T\\.x]\n[T\\.zip]\n[T\\._sln]\n[T\\A]\n[T\\b]\n[T\\B2]\n[T\\c]\n");
}

TEST_P(RegistryBehaviour, StringValuesGetOneTerminatingNul) {
  struct Row {
    std::string data;
    std::string stored;
  };
  const Row rows[] = {{"abc", std::string("abc\0", 4)},
                      {std::string("abc\0", 4), std::string("abc\0", 4)},
                      {"", ""},
                      {std::string("ab\0cd", 5), std::string("ab\0cd\0", 6)}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.data.size());
    ASSERT_EQ(SeedValue(*registry, HKEY_CLASSES_ROOT, "V", "", REG_SZ, row.data), 0);
    EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "V", 0), "|1|" + row.stored);
  }
}

TEST_P(RegistryBehaviour, BuffersTooSmallAnswerMoreDataAndLeaveThemUntouched) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, "K\\Child", "", REG_SZ, "x");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "K", "name", REG_SZ, "abc");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "K", "second", REG_SZ, "d");
  HKEY key = 0;
  ASSERT_EQ(registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, "K", 0, 0x3F, &key), 0);
  char name[16];
  std::memset(name, 0xbd, sizeof name);
  DWORD length = 5;  // "Child" needs 6 with its NUL
  EXPECT_EQ(registry->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(static_cast<unsigned char>(name[0]), 0xbd);
  length = 6;
  EXPECT_EQ(registry->RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::string(name, length), "Child");
  length = sizeof name;
  EXPECT_EQ(registry->RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  BYTE data[8];
  std::memset(data, 0xbd, sizeof data);
  std::memset(name, 0xbd, sizeof name);
  DWORD size = 3;  // "abc" is stored as 4 bytes
  DWORD type = 0;
  length = sizeof name;
  EXPECT_EQ(registry->RegEnumValueA(key, 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(data[0], 0xbd);
  EXPECT_EQ(static_cast<unsigned char>(name[0]), 0xbd);
  size = sizeof data;
  length = sizeof name;
  EXPECT_EQ(registry->RegEnumValueA(key, 1, name, &length, nullptr, &type, data, &size), 0);
  EXPECT_EQ(std::string(name, length), "second");
  length = 4;  // "name" needs 5
  size = sizeof data;
  EXPECT_EQ(registry->RegEnumValueA(key, 0, name, &length, nullptr, &type, data, &size), ERROR_MORE_DATA);
  size = sizeof data;
  length = sizeof name;
  EXPECT_EQ(registry->RegEnumValueA(key, 2, name, &length, nullptr, &type, data, &size), ERROR_NO_MORE_ITEMS);
  registry->RegCloseKey(key);
}

TEST_P(RegistryBehaviour, CodesOfPathsHandlesAndDeletion) {
  HKEY key = 1;
  EXPECT_EQ(registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, "missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(registry->RegCreateKeyExA(HKEY_CLASSES_ROOT, "\\foo", 0, "", 0, 0x3F, nullptr, &key, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "foo"));
  EXPECT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, std::string(255, 'n')), 0);
  EXPECT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, std::string(256, 'n')), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SeedKey(*registry, HKEY_CLASSES_ROOT, "a\\\\b\\"), 0);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "a\\b"));
  EXPECT_EQ(registry->RegCloseKey(0x7654321), ERROR_INVALID_HANDLE);
  EXPECT_EQ(registry->RegCloseKey(HKEY_CLASSES_ROOT), 0);

  EXPECT_EQ(registry->RegDeleteKeyA(HKEY_CLASSES_ROOT, "a"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "a\\b"));
  ASSERT_EQ(registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, "a\\b", 0, 0x3F, &key), 0);
  EXPECT_EQ(registry->RegDeleteKeyA(HKEY_CLASSES_ROOT, "a\\b"), 0);
  EXPECT_EQ(registry->RegDeleteKeyA(HKEY_CLASSES_ROOT, "a\\b"), ERROR_FILE_NOT_FOUND);
  const BYTE one[] = {'1'};
  EXPECT_EQ(registry->RegSetValueExA(key, "", 0, REG_SZ, one, 1), ERROR_KEY_DELETED);
  registry->RegCloseKey(key);

  ASSERT_EQ(registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, "a", 0, KEY_READ, &key), 0);
  EXPECT_EQ(registry->RegSetValueExA(key, "", 0, REG_SZ, one, 1), ERROR_ACCESS_DENIED);
  registry->RegCloseKey(key);
}

TEST_P(RegistryBehaviour, RollbackRestoresEverythingCommitKeepsIt) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".keep", "", REG_SZ, "Keep");
  const std::string before = DumpClasses(*registry);
  ASSERT_EQ(registry->BeginTransaction(), 0);
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".new", "", REG_SZ, "New");
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".keep", "", REG_SZ, "Changed");
  registry->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".keep");
  registry->RollbackTransaction();
  EXPECT_EQ(DumpClasses(*registry), before);

  ASSERT_EQ(registry->BeginTransaction(), 0);
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".new", "", REG_SZ, "New");
  ASSERT_EQ(registry->CommitTransaction(), 0);
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, ".new", 0), std::string("|1|New\0", 7));
}

ZANDREL_FOR_EACH_REGISTRY(RegistryBehaviour);

}  // namespace
}  // namespace zandrel::testing
