// A new hive starts as a realistic classes store, made in one step.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "HiveTestSupport.h"

namespace zandrel::hive::testing {
namespace {

struct Value {
  std::string name;
  DWORD type;
  std::string data;
};

std::vector<Value> Values(IRegistry& reg, HKEY root, const std::string& path) {
  std::vector<Value> values;
  HKEY key = 0;
  if (reg.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != 0) return values;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD name_length = sizeof name;
    BYTE data[1024];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (reg.RegEnumValueA(key, i, name, &name_length, nullptr, &type, data, &size) != 0) break;
    values.push_back(
        {std::string(name, name_length), type, std::string(reinterpret_cast<char*>(data), size)});
  }
  reg.RegCloseKey(key);
  return values;
}

std::vector<std::string> Subkeys(IRegistry& reg, HKEY root, const std::string& path) {
  std::vector<std::string> names;
  HKEY key = 0;
  if (reg.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != 0) return names;
  for (DWORD i = 0;; ++i) {
    char name[1024];
    DWORD length = sizeof name;
    if (reg.RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0) break;
    names.emplace_back(name, length);
  }
  if (key != root) reg.RegCloseKey(key);
  return names;
}

// The text of a REG_SZ value as the store reads it: size - 1 bytes.
std::string Text(const Value& v) {
  return v.data.empty() ? "" : v.data.substr(0, v.data.size() - 1);
}

bool HasCyrillic(const std::string& s) {
  return s.find("\xD0") != std::string::npos || s.find("\xD1") != std::string::npos;
}

class DefaultStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    reg_ = OpenHiveSeeded(dir_.File("registry.db"), DefaultClassesReg(), &error);
    ASSERT_NE(reg_, nullptr) << error;
  }
  TempDir dir_;
  std::unique_ptr<HiveRegistry> reg_;
};

TEST_F(DefaultStore, HoldsEightyAssociationsAndTheIrregularCases) {
  int complete = 0, without_command = 0, named_before_default = 0, non_sz_default = 0,
      named_first_in_command = 0, cyrillic_titles = 0;
  std::map<std::string, int> title_uses;
  for (const std::string& ext : Subkeys(*reg_, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes")) {
    if (ext.empty() || ext[0] != '.') continue;
    const std::vector<Value> values = Values(*reg_, HKEY_CLASSES_ROOT, ext);
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!values[i].name.empty()) continue;
      if (values[i].type != REG_SZ) {
        ++non_sz_default;
        break;
      }
      if (i > 0) ++named_before_default;
      const std::string title = Text(values[i]);
      if (title.find_first_not_of(' ') == std::string::npos) break;
      ++title_uses[title];
      if (HasCyrillic(title)) ++cyrillic_titles;
      const std::vector<Value> command = Values(
          *reg_, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + title + "\\Shell\\Open\\Command");
      if (command.empty()) {
        ++without_command;
      } else if (!command[0].name.empty()) {
        ++named_first_in_command;
      } else if (command[0].type == REG_SZ && !Subkeys(*reg_, HKEY_CLASSES_ROOT, title).empty()) {
        const std::vector<Value> icon = Values(*reg_, HKEY_CLASSES_ROOT, title + "\\DefaultIcon");
        if (!icon.empty() && icon[0].name.empty()) ++complete;
      }
      break;
    }
  }
  int shared = 0;
  for (const auto& [title, uses] : title_uses) shared += uses > 1;
  EXPECT_GE(complete, 80);
  EXPECT_GE(without_command, 3);
  EXPECT_GE(named_before_default, 20);
  EXPECT_GE(non_sz_default, 1);
  EXPECT_GE(named_first_in_command, 1);
  EXPECT_GE(cyrillic_titles, 3);
  EXPECT_GE(shared, 5);
}

TEST_F(DefaultStore, HoldsClassIdsAndOtherClassesKeys) {
  const std::vector<std::string> clsids = Subkeys(*reg_, HKEY_CLASSES_ROOT, "CLSID");
  ASSERT_GE(clsids.size(), 5u);
  int inproc = 0;
  for (const std::string& clsid : clsids) {
    EXPECT_EQ(clsid.front(), '{');
    inproc += !Values(*reg_, HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32").empty();
  }
  EXPECT_GE(inproc, 3);
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers"));
  EXPECT_TRUE(KeyExists(*reg_, HKEY_CLASSES_ROOT, "Folder\\shell\\open\\command"));
}

TEST_F(DefaultStore, ExistingHiveIsNotSeededAgain) {
  ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt\\ShellNew"), 0);
  ASSERT_EQ(reg_->RegDeleteKeyA(HKEY_CLASSES_ROOT, ".txt"), 0);
  reg_.reset();
  std::string error;
  auto again = OpenHiveSeeded(dir_.File("registry.db"), DefaultClassesReg(), &error);
  ASSERT_NE(again, nullptr) << error;
  EXPECT_FALSE(KeyExists(*again, HKEY_CLASSES_ROOT, ".txt"));
  EXPECT_TRUE(KeyExists(*again, HKEY_CLASSES_ROOT, ".text"));
}

TEST(HiveSeeding, BadSeedLeavesNoFile) {
  TempDir dir;
  const std::string path = dir.File("registry.db");
  std::string error;
  auto reg = OpenHiveSeeded(
      path, "REGEDIT4\n[HKEY_CLASSES_ROOT\\.a]\n@=\"a\"\n[HKEY_CLASSES_ROOT\\.b\n", &error);
  EXPECT_EQ(reg, nullptr);
  EXPECT_EQ(error, "cannot seed the registry hive \"" + path +
                       "\": default classes store, line 4: a key line must end with \"]\"");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(HiveSeeding, ConcurrentFirstOpensMakeOneHive) {
  TempDir dir;
  const std::string path = dir.File("sub/registry.db");
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::string error;
      auto reg = OpenHiveSeeded(path, DefaultClassesReg(), &error);
      const bool ok = reg && KeyExists(*reg, HKEY_CLASSES_ROOT, ".txt") &&
                      CreateKey(*reg, HKEY_CLASSES_ROOT, ".child" + std::to_string(i)) == 0;
      if (!ok) std::fprintf(stderr, "child %d: %s\n", i, error.c_str());
      reg.reset();
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  std::string error;
  auto reg = OpenHive(path, &error);
  ASSERT_NE(reg, nullptr) << error;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(KeyExists(*reg, HKEY_CLASSES_ROOT, ".child" + std::to_string(i))) << i;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("sub"))) {
    EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos) << entry.path();
  }
}

TEST(HiveSeeding, DefaultHiveIsTheOneTheEnvironmentNames) {
  TempDir dir;
  const std::string path = dir.File("env/registry.db");
  const char* saved = std::getenv("ZANDREL_HIVE");
  const std::string keep = saved ? saved : "";
  ::setenv("ZANDREL_HIVE", path.c_str(), 1);
  std::string error;
  auto reg = OpenDefaultHive(&error);
  if (saved) {
    ::setenv("ZANDREL_HIVE", keep.c_str(), 1);
  } else {
    ::unsetenv("ZANDREL_HIVE");
  }
  ASSERT_NE(reg, nullptr) << error;
  EXPECT_EQ(reg->Path(), path);
  EXPECT_TRUE(KeyExists(*reg, HKEY_CLASSES_ROOT, "txtfile\\shell\\open\\command"));
}

}  // namespace
}  // namespace zandrel::hive::testing
