// Shared helpers of the hive tests: a private temporary folder per test and
// a text dump of a registry subtree.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/hive/Hive.h"
#include "support/TestFolders.h"

namespace zandrel::hive::testing {

using zandrel::testing::TempDir;

// A test with its own hive file, opened once as `reg`.
class HiveTest : public ::testing::Test {
 protected:
  void SetUp() override;
  std::unique_ptr<HiveRegistry> Reopen();

  TempDir dir_;
  std::string hive_path_;
  std::unique_ptr<HiveRegistry> reg_;
};

// The subtree at root\path as text: one line per key ("[path]", relative to
// the start) followed by its values ("name" = type:hex-bytes), in
// enumeration order. Non-zero codes show up as "!code".
std::string Dump(IRegistry& registry, HKEY root, const std::string& path);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Convenience wrappers asserting nothing.
LONG CreateKey(IRegistry& registry, HKEY root, const std::string& path, HKEY* out = nullptr,
               DWORD* disposition = nullptr);
LONG SetString(IRegistry& registry, HKEY root, const std::string& path, const std::string& name,
               const std::string& text);
bool KeyExists(IRegistry& registry, HKEY root, const std::string& path);

}  // namespace zandrel::hive::testing
