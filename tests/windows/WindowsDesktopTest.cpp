// Windows as the desktop: what still decides for the user after an add or a
// removal (the user's choice, the user's own classes) and the offer of
// Settings, through the writer and the remover as the window runs them.
#include <gtest/gtest.h>

#include "support/MergedClasses.h"
#include "windows/WindowsDesktop.h"
#include "store/ChangesFixture.h"

namespace zandrel::testing {
namespace {

// A store app's name as its package keeps it, which only Windows resolves;
// and, in the Windows build, the test program's own string 1 ("Блокнот").
const std::string kUnresolvable = "@{Microsoft.Paint_11.0.0.0_x64__8wekyb3d8bbwe?ms-resource://Microsoft.Paint/x}";
#ifdef _WIN32
const std::string kIndirectName = "@" + ThisProgram() + ",-1";
#else
const std::string kIndirectName = kUnresolvable;
#endif

// The choice Windows keeps for the user's account outlives an add and a
// removal: both name its program, say whose choice it is as far as the key
// tells, and offer the default apps page (No unless asked).
TEST_F(Changes, AChoiceWindowsKeepsForTheUserIsNamed) {
  const std::string choices = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
  const std::string windows = "так решает выбор по умолчанию, который Windows хранит для вашей учётной записи.";
  const std::string users = "её когда-то выбрали вы сами через «Открыть с помощью».";
  struct Value {
    std::string path, name, data;
  };
  // The choice, under key (UserChoice, or UserChoiceLatest\ProgId), with its Hash when hashed.
  const auto choice = [&](const std::string& progId, const std::string& key = ".zq\\UserChoice", bool hashed = true) {
    std::vector<Value> seeds{{choices + key, "ProgId", progId}};
    if (hashed) seeds.push_back({choices + key.substr(0, key.rfind("\\ProgId")), "Hash", "h="});
    return seeds;
  };
  const auto storeApp = [&](const std::string& id, const std::string& name) {
    std::vector<Value> seeds = choice(id);
    seeds.push_back({id + "\\Application", "ApplicationName", name});
    return seeds;
  };
  std::vector<Value> latest = choice("Applications\\old.exe");
  for (const Value& v : choice("Zq.Viewer", ".zq\\UserChoiceLatest\\ProgId")) latest.push_back(v);
  // clang-format off
  const struct {
    const char* name;
    std::vector<Value> seeds;  // under HKEY_CURRENT_USER; "AppX…" ones under the classes
    std::string program = "", whose = "";  // "": no note
  } rows[] = {
      {"no choice", {}, ""},
      {"another extension's choice", choice("Zq.Viewer", ".other\\UserChoice", false), ""},
      {"a choice without its Hash, which Windows resets", choice("Zq.Viewer", ".zq\\UserChoice", false), ""},
      {"a ProgId with a command", choice("Zq.Viewer"), "zq viewer.exe", windows},
      {"a program the user browsed to", choice("Applications\\notepad++.exe", ".ZQ\\UserChoice"), "notepad++.exe", users},
      {"a store app by its name", storeApp("AppXk0g4vb8gvt7b93tg50ybcy892pge6jmt", "Блокнот"), "Блокнот", windows},
      {"a store app named by an indirect string", storeApp("AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg", kIndirectName),
       kIndirectName == kUnresolvable ? "AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg" : "Блокнот", windows},
      {"a store app whose name cannot be resolved", storeApp("AppX4ztfk9wxr86ypyk", kUnresolvable), "AppX4ztfk9wxr86ypyk",
       windows},
      {"UserChoiceLatest before a stale UserChoice", latest, "zq viewer.exe", windows},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedAssociation(*registry, ".view", "Zq.Viewer", "\"C:\\Tools\\zq viewer.exe\" \"%1\"");
    for (const Value& seed : row.seeds) {
      const bool app = seed.path.rfind("AppX", 0) == 0;
      ASSERT_EQ(SeedValue(*registry, seed.path, seed.name, REG_SZ, seed.data,
                          app ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER),
                ERROR_SUCCESS);
    }
    const std::string note = row.program.empty()
                                 ? ""
                                 : "\r\n\r\nНо Windows и дальше будет открывать файлы .zq программой «" + row.program +
                                       "»: " + row.whose +
                                       " Изменить это можно в разделе «Параметры» → «Приложения» → "
                                       "«Приложения по умолчанию».";
    const Box offer{"Открыть «Приложения по умолчанию» в «Параметрах» Windows?", 0x124};
    RecordingPrompter p;
    windows::WindowsDesktop desktop(*registry, {});
    EXPECT_TRUE(store::CreateAssociation(*registry, p, Add(), &desktop).committed);
    p.AnswerNext(IDYES);  // the removal's question
    p.AnswerNext(IDOK);
    p.AnswerNext(IDYES);  // the page offered after it
    EXPECT_TRUE(store::RemoveAssociation(*registry, p, Remove(), &desktop).committed);
    if (row.program.empty()) {
      EXPECT_EQ(p.boxes, (Boxes{{kDone, 0}, {kBoth, 0x24}, {kRemoved, 0}}));
    } else {
      EXPECT_EQ(p.boxes, (Boxes{{kDone + note, 0}, offer, {kBoth, 0x24}, {kRemoved + note, 0}, offer}));
    }
    EXPECT_EQ(p.settingsOpened, row.program.empty() ? 0 : 1);
  }
}

// HKEY_CLASSES_ROOT merged as on Windows: changes land among the machine's
// classes, which the listing reads, and are decided from them alone; where
// the user's own keys keep deciding for the user, the closing message says so.
TEST_F(Changes, OverTheUsersOwnClasses) {
  const std::string command = "\"" + program + "\" \"%1\"";
  auto seedUsers = [&](const std::string& path, const std::string& value) {
    ASSERT_EQ(SeedValue(*registry, UsersClasses(path), "", REG_SZ, value, HKEY_CURRENT_USER), ERROR_SUCCESS);
  };
  auto usersNote = [](const std::string& key, const std::string& command, const std::string& e = ".zq") {
    return "\r\n\r\nНо для вас Windows и дальше будет открывать файлы " + e +
           " по вашим личным настройкам "
           "(HKEY_CURRENT_USER\\Software\\Classes\\" +
           key + "): командой " + command + ". Их Zandrel не меняет.";
  };
  const std::string usersCommand = usersNote("Zq Title\\shell\\open\\command", "user.exe %1");
  MergedClasses merged(*registry);  // one merged view for every step below
  windows::WindowsDesktop desktop(merged, {});
  std::string usersTitle;
  {
    SCOPED_TRACE("a title only the user's classes hold: the machine's written, the user's command named");
    seedUsers("Zq Title", "user's");
    seedUsers("Zq Title\\shell\\open\\command", "user.exe %1");
    usersTitle = DumpTree(*registry, HKEY_CURRENT_USER, UsersClasses("Zq Title"));
    RecordingPrompter p;
    EXPECT_TRUE(store::CreateAssociation(merged, p, Add(), &desktop).committed);
    EXPECT_EQ(p.boxes, (Boxes{{kDone + usersCommand, 0}}));
    const auto rows = store::AssociationListing(*registry).List().rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (store::AssociationRow{".zq", "Zq Title", command}));
    EXPECT_EQ(DumpTree(*registry, HKEY_CURRENT_USER, UsersClasses("Zq Title")), usersTitle);
  }
  {
    SCOPED_TRACE("the machine's title reused while the user holds one too: asked of the machine's command");
    SeedValue(*registry, ".zr", "", REG_SZ, "Zq Title");
    SeedValue(*registry, "Zq Title\\shell\\open\\command", "", REG_SZ, "machine.exe %1");
    RecordingPrompter p{IDYES, IDYES};
    store::AssociationFields fields = Add();
    fields.fileExt = "zs";
    EXPECT_TRUE(store::CreateAssociation(merged, p, fields, &desktop).committed);
    const std::string shared =
        "Описание Zq Title называют и другие расширения: .zq, .zr.\r\nИх команда machine.exe "
        "%1 будет заменена на " +
        command + ".\r\nИзменить и для них?";
    EXPECT_EQ(p.boxes, (Boxes{kReuse,
                              {shared, 0x124},
                              {kDone + usersNote("Zq Title\\shell\\open\\command", "user.exe %1", ".zs"), 0}}));
    for (const char* e : {".zr", ".zs"}) merged.RegDeleteKeyA(HKEY_CLASSES_ROOT, e);
  }
  {
    SCOPED_TRACE("the machine's extension removed with its title under the user's own .zq");
    SeedValue(*registry, UsersClasses(".zq\\OpenWithProgids"), "Zq.Other", REG_NONE, "", HKEY_CURRENT_USER);
    RecordingPrompter p{IDYES};
    EXPECT_TRUE(store::RemoveAssociation(merged, p, Remove(), &desktop).committed);
    EXPECT_EQ(p.boxes, (Boxes{{kBoth, 0x24}, {kRemoved, 0}}));
    EXPECT_EQ(DumpClasses(*registry), empty);
    EXPECT_EQ(DumpTree(*registry, HKEY_CURRENT_USER, UsersClasses("Zq Title")), usersTitle);
  }
  {
    SCOPED_TRACE("an extension the user's classes name otherwise: added, and still theirs after the removal");
    seedUsers(".zq", "User Title");
    seedUsers("User Title\\shell\\open\\command", "other.exe %1");
    RecordingPrompter p{IDOK, IDYES};
    EXPECT_TRUE(store::CreateAssociation(merged, p, Add(), &desktop).committed);
    EXPECT_TRUE(store::RemoveAssociation(merged, p, Remove(), &desktop).committed);
    const std::string note = usersNote(".zq", "other.exe %1");
    EXPECT_EQ(p.boxes, (Boxes{{kDone + note, 0}, {kBoth, 0x24}, {kRemoved + note, 0}}));
  }
  {
    SCOPED_TRACE("an extension only the user's classes hold is not removed");
    RecordingPrompter p{IDYES};
    EXPECT_FALSE(store::RemoveAssociation(merged, p, Remove(), &desktop).committed);
    EXPECT_EQ(p.boxes, (Boxes{{kBoth, 0x24},
                              {"Расширение .zq зарегистрировано только в ваших личных настройках "
                               "(HKEY_CURRENT_USER\\Software\\Classes), поэтому в списке его нет. Такую запись "
                               "Zandrel не меняет.",
                               0}}));
    EXPECT_EQ(DumpClasses(*registry), empty);
  }
}

}  // namespace
}  // namespace zandrel::testing
