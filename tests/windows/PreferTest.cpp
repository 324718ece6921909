// Windows as the desktop after a change of programs: what still decides for
// the user reaches the lines of a set, and a registered application made the
// default for what it declares, in one change, undone whole; its refusals.
#include <gtest/gtest.h>

#include "capture/ChangeHistory.h"
#include "registry/Key.h"
#include "store/ChangeUndo.h"
#include "store/ChangesFixture.h"
#include "store/FieldChecks.h"
#include "store/ProgramChange.h"
#include "windows/WindowsDesktop.h"

namespace zandrel::testing {
namespace {

const std::string kChoices = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";

void SeedChoice(IRegistry& r, const std::string& e, const std::string& progId) {
  SeedValue(r, kChoices + e + "\\UserChoice", "ProgId", REG_SZ, progId, HKEY_CURRENT_USER);
  SeedValue(r, kChoices + e + "\\UserChoice", "Hash", REG_SZ, "h=", HKEY_CURRENT_USER);
}

std::string ChoiceNote(const std::string& e, const std::string& program) {
  return "Но Windows и дальше будет открывать файлы " + e + " программой «" + program +
         "»: так решает выбор по умолчанию, который Windows хранит для вашей учётной записи. Изменить это можно в "
         "разделе «Параметры» → «Приложения» → «Приложения по умолчанию».";
}

TEST_F(Changes, SetNamesWhatStillDecidesForTheUser) {
  SeedZq();
  SeedAssociation(*registry, ".zv", "Zq.Viewer", "\"C:\\Tools\\zq viewer.exe\" \"%1\"");
  SeedChoice(*registry, ".zq", "Zq.Viewer");
  SeedValue(*registry, UsersClasses("Zq Title\\shell\\open\\command"), "", REG_SZ, "user.exe %1", HKEY_CURRENT_USER);
  windows::WindowsDesktop desktop(*registry, {});
  const store::ProgramChange change = store::ChangeProgram(*registry, {".zq", program}, &desktop);
  ASSERT_TRUE(change.committed);
  EXPECT_EQ(
      store::ProgramChangeLines(change),
      (std::vector<std::string>{"Расширение .zq: команда p %1 заменена на " + store::OpenCommand(program) + ".",
                                "Значок p,1 заменён на \"" + program + "\",0.",
                                "Но для вас Windows и дальше будет открывать файлы .zq по вашим личным настройкам "
                                "(HKEY_CURRENT_USER\\Software\\Classes\\Zq Title\\shell\\open\\command): "
                                "командой user.exe %1. Их Zandrel не меняет.",
                                ChoiceNote(".zq", "zq viewer.exe")}));
}

TEST_F(Changes, PreferARegisteredApplication) {
  const std::string caps = "SOFTWARE\\Zq Soft\\Zq Viewer\\Capabilities", apps = "SOFTWARE\\RegisteredApplications";
  const auto machine = [&](const std::string& path, const std::string& name, const std::string& data) {
    ASSERT_EQ(SeedValue(*registry, path, name, REG_SZ, data, HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  };
  machine(apps, "Zq Viewer", caps);
  machine(apps, "No Capabilities", "SOFTWARE\\Nowhere\\Capabilities");
  machine(apps, "Declares Nothing", "SOFTWARE\\Zq Soft\\Nothing\\Capabilities");
  machine("SOFTWARE\\Zq Soft\\Nothing\\Capabilities", "ApplicationName", "Nothing");
  // Registered for the user too, which wins: its capabilities are the user's.
  const std::string users = "Software\\Zq Soft\\Zq User\\Capabilities";
  const auto user = [&](const std::string& path, const std::string& name, const std::string& data) {
    ASSERT_EQ(SeedValue(*registry, path, name, REG_SZ, data, HKEY_CURRENT_USER), ERROR_SUCCESS);
  };
  machine(apps, "Zq User", "SOFTWARE\\Nowhere\\Capabilities");
  user("Software\\RegisteredApplications", "Zq User", users);
  user(users + "\\FileAssociations", ".zw", "Zq.Doc");
  user("Software\\RegisteredApplications", "User Nowhere", "Software\\Nowhere");
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> declared{
      {".zq", "Zq.Doc"}, {".zr", "Zq.Doc"}, {".zs", "Zq.Missing"}, {".zt", "Zq.Doc"}, {"zbad", "Zq.Doc"},
      {".EXE", "Zq.Doc"}, {".zu", "exefile"}, {".zv", "CLSID\\{Zq}"}};
  // clang-format on
  for (const auto& [e, progId] : declared) machine(caps + "\\FileAssociations", e, progId);
  machine("SOFTWARE\\Classes\\exefile", "", "Application");
  machine("SOFTWARE\\Classes\\CLSID\\{Zq}", "", "Zq");
  SeedAssociation(*registry, ".zq", "Old.Title", "old.exe %1");
  SeedAssociation(*registry, ".zt", "ZQ.DOC", "\"C:\\Zq\\zq.exe\" \"%1\"");
  SeedChoice(*registry, ".zr", "Applications\\other.exe");
  const std::string before = DumpClasses(*registry);
  capture::HistoryRegistry history(*registry);
  windows::WindowsDesktop desktop(history, {});
  {
    SCOPED_TRACE("the refusals: nothing written");
    const std::string where = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    for (const auto& [app, why] : std::vector<std::pair<std::string, std::string>>{
             {"Nobody",
              "Приложение Nobody не зарегистрировано в Windows (HKEY_CURRENT_USER\\Software\\"
              "RegisteredApplications, " +
                  where + "RegisteredApplications)."},
             {"User Nowhere",
              "У приложения User Nowhere нет раздела возможностей HKEY_CURRENT_USER\\Software\\Nowhere."},
             {"No Capabilities",
              "У приложения No Capabilities нет раздела возможностей " + where + "Nowhere\\Capabilities."},
             {"Declares Nothing", "Приложение Declares Nothing не объявляет ни одного расширения (" + where +
                                      "Zq Soft\\Nothing\\Capabilities\\FileAssociations)."}}) {
      std::vector<std::string> lines;
      const status::Status refused = desktop.Prefer(history, app, &lines);
      EXPECT_EQ(refused.code, status::Status::kFailed);
      EXPECT_EQ(refused.message, why + " Ничего не изменено.");
      EXPECT_TRUE(lines.empty());
    }
    FailingRegistry failing(history);
    failing.FailNth(1, ERROR_WRITE_FAULT, SetValue);
    std::vector<std::string> lines;
    EXPECT_EQ(desktop.Prefer(failing, "Zq Viewer", &lines).message,
              "Приложение Zq Viewer не стало основным (ошибка реестра 29). Ничего не изменено.");
    failing.FailNth(3, ERROR_ACCESS_DENIED, Open);  // the application's capabilities
    EXPECT_EQ(desktop.Prefer(failing, "Zq Viewer", &lines).message,
              "Не удалось прочитать HKEY_LOCAL_MACHINE\\" + caps + " (ошибка реестра 5). Ничего не изменено.");
    failing.FailNth(1, ERROR_ACCESS_DENIED, Begin);
    EXPECT_EQ(desktop.Prefer(failing, "Zq Viewer", &lines).message,
              "Не удалось начать изменение (ошибка реестра 5). Ничего не изменено.");
    EXPECT_EQ(DumpClasses(*registry), before);
  }
  history.Describe("prefer", "Zq Viewer");
  std::vector<std::string> lines;
  ASSERT_TRUE(desktop.Prefer(history, "Zq Viewer", &lines).Ok());
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Расширение .EXE пропущено: это расширение самой Windows: его файлы "
                                      "запускаются сами или ведут к программе.",
                                      "Расширение .zq: Old.Title → Zq.Doc.", "Расширение .zr: (не было) → Zq.Doc.",
                                      "Расширение .zs пропущено: описания Zq.Missing нет в реестре.",
                                      "Расширение .zt уже открывается через Zq.Doc.",
                                      "Расширение .zu пропущено: описание exefile — тип программ, которые запускаются "
                                      "сами.",
                                      "Расширение .zv пропущено: описание CLSID\\{Zq} не может быть именем раздела "
                                      "реестра.",
                                      "Но Windows и дальше будет открывать файлы .zr программой «other.exe»: её "
                                      "когда-то выбрали вы сами через «Открыть с помощью». Изменить это можно в "
                                      "разделе «Параметры» → «Приложения» → «Приложения по умолчанию»."}));
  EXPECT_EQ(Default(".zq"), "Zq.Doc");
  EXPECT_EQ(Default(".zr"), "Zq.Doc");
  EXPECT_EQ(Default(".zs"), "<no key>");
  lines.clear();
  ASSERT_TRUE(desktop.Prefer(history, "Zq Viewer", &lines).Ok());
  ASSERT_EQ(lines.size(), 9u);  // the seven extensions, this line, the user's choice
  EXPECT_EQ(lines[7], "Ничего не изменено.");
  std::vector<capture::HistoryEntry> entries;
  ASSERT_EQ(capture::ReadHistory(*registry, &entries), ERROR_SUCCESS);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(capture::ChangeTitle(entries[0].kind, entries[0].subject), "приложение по умолчанию Zq Viewer");
  EXPECT_EQ(store::UndoChange(history, 0).result, store::UndoOutcome::Result::kUndone);
  EXPECT_EQ(DumpClasses(*registry), before);
  lines.clear();
  ASSERT_TRUE(desktop.Prefer(history, "Zq User", &lines).Ok());
  EXPECT_EQ(lines, std::vector<std::string>{"Расширение .zw: (не было) → Zq.Doc."});
  EXPECT_EQ(registry::ReadText(*registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.zw", ""), "Zq.Doc");
}

}  // namespace
}  // namespace zandrel::testing
