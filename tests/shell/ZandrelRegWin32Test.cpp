// zandrel-reg.exe and zandrel.exe as Windows starts them: the console tool
// runs with its prompt's rights and the window asks for the user's highest;
// Cyrillic reaches a pipe as UTF-8 with reg.exe's CR LF (a console:
// shell.ConsoleWine); a write
// the prompt may not make says to elevate it.
#include <gtest/gtest.h>

#include <cstdio>

#include "registry/win32/Win32Registry.h"
#include "regfile/RegFile.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/Support.h"
#include "support/Win32Support.h"

namespace zandrel::testing {
namespace {

std::string Beside(const std::string& name) {
  const std::string self = ThisProgram();
  return self.substr(0, self.rfind('\\') + 1) + name;
}

TEST(WindowsPrograms, ManifestsAskForTheirRights) {
  const struct {
    const char* program;
    const char* level;
  } rows[] = {{"zandrel-reg.exe", "asInvoker"}, {"zandrel.exe", "highestAvailable"}};
  for (const auto& row : rows) {
    const std::string manifest = ManifestOf(Beside(row.program));
    EXPECT_NE(manifest.find("<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8<"),
              std::string::npos)
        << row.program;
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"" + std::string(row.level) + "\""), std::string::npos)
        << row.program << ":\n"
        << manifest;
  }
}

TEST(WindowsPrograms, QueryWritesCyrillicToAPipeAsUtf8) {
  TempDir dir;
  const std::string key = "Software\\ZandrelTests\\pipe-" + dir.Path().substr(dir.Path().rfind('-') + 1);
  const std::string path = key + "\\Кириллица";
  win32::Win32Registry registry;
  ASSERT_EQ(SeedKey(registry, path + "\\Подключ", HKEY_CURRENT_USER), ERROR_SUCCESS);
  ASSERT_EQ(SeedValue(registry, path, "Имя", REG_SZ, "Текстовый документ", HKEY_CURRENT_USER), ERROR_SUCCESS);

  const std::string command = "\"\"" + Beside("zandrel-reg.exe") + "\" query \"HKCU\\" + path + "\"\"";
  std::FILE* pipe = _popen(command.c_str(), "rb");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[512];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  EXPECT_EQ(_pclose(pipe), 0);
  registry.RegDeleteKeyA(HKEY_CURRENT_USER, (path + "\\Подключ").c_str());
  registry.RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
  registry.RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  const std::string title = "HKEY_CURRENT_USER\\" + path;
  EXPECT_EQ(out, "\r\n" + title + "\r\n    Имя    REG_SZ    Текстовый документ\r\n\r\n" + title + "\\Подключ\r\n");
}

TEST(WindowsPrograms, AnImportItsPromptMayNotMakeSaysToElevate) {
  TempDir dir;
  auto registry = MakeRegistry(dir.Path());
  FailingRegistry refusing(*registry);
  refusing.FailNth(1, ERROR_ACCESS_DENIED, Create);
  const status::Status result =
      regfile::ImportRegText(refusing, "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.zzq]\r\n@=\"zzqfile\"\r\n", "new.reg");
  EXPECT_EQ(result.code, status::Status::kFailed);
  EXPECT_EQ(result.message,
            "new.reg, line 3: cannot create the key \"HKEY_CLASSES_ROOT\\.zzq\": access denied "
            "(error 5): run it from an elevated prompt (Run as administrator)");
}

}  // namespace
}  // namespace zandrel::testing
