// The writer and the remover: every message byte for byte with its flags,
// the registry as they leave it, and all or nothing whichever call fails.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "store/AssociationChanges.h"
#include "store/AssociationListing.h"
#include "store/KeyRoutines.h"
#include "store/FileExists.h"
#include "store/Titles.h"
#include "support/Backends.h"
#include "support/FailingRegistry.h"
#include "support/MergedClasses.h"
#include "windows/WindowsDesktop.h"
#include "support/Support.h"
#ifdef _WIN32
#include "support/Win32Support.h"
#endif

namespace zandrel::testing {
namespace {

using Box = RecordingPrompter::Box;
using Boxes = std::vector<Box>;

std::string Ticked(const std::string& first) {
  return first + "\r\n\r\nЧто увидеть результат в списке нажмите кнопку показать.\r\n\r\n"
                 "Если у вас стоит галочка в Показать изменнения , то измения\r\n\r\n"
                 "будут вам показываться сразу после того как вы нажмёте \r\n\r\n"
                 "кнопку Ок. Если вам это не нужно, не забывайте уберать галочку.";
}
const std::string kDone = "Всё прошло успешно.";
const std::string kNoExt = "Введите имя расширенния";
const std::string kBoth = "Удаляется расширенние .zq\r\nХотите удалить расширенние и описание?";
const std::string kKeepTitle = "Удаляется расширенние .zq\r\nХотите удалить расширенние, а описание оставить?";
const std::string kRemoved = "Ассоциация удаленна из реестра .zq";
const std::string kNotRemoved = "Не удалось удалить ассоциацию из реестра .zq";
const Box kReuse{"Title Ref already in existence in the registery.\r\nProceed still?", 0x24};
#ifdef _WIN32
const char kDevice[] = "NUL";
#else
const char kDevice[] = "/dev/null";
#endif

class Changes : public ::testing::Test {
 protected:
  void SetUp() override {
    registry = MakeRegistry(dir.Path());
    program = dir.Write("my prog.exe", "MZ");
    SeedValue(*registry, ".other", "", REG_SZ, "Other");
    empty = DumpClasses(*registry);
  }
  // "{P}" stands for the program's path, "{D}" for a folder.
  std::string Fill(std::string s) const {
    for (auto [mark, by] : {std::pair<std::string, std::string>{"{P}", program}, {"{D}", dir.Path()}})
      for (std::size_t at; (at = s.find(mark)) != std::string::npos;) s.replace(at, mark.size(), by);
    return s;
  }
  std::string Default(const std::string& path) {  // the default value's text, or a note
    HKEY key = 0;
    if (registry->RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "<no key>";
    char name[8];
    std::string data(20000, '\0');
    DWORD nameLength = sizeof name, type = 0, size = static_cast<DWORD>(data.size());
    const LONG code = registry->RegEnumValueA(key, 0, name, &nameLength, nullptr, &type,
                                              reinterpret_cast<BYTE*>(data.data()), &size);
    registry->RegCloseKey(key);
    if (code != ERROR_SUCCESS || nameLength != 0 || type != REG_SZ || size == 0) return "<no default>";
    EXPECT_EQ(data[size - 1], '\0');
    return data.substr(0, size - 1);
  }
  void SeedZq() {
    SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
    SeedValue(*registry, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
    full = DumpClasses(*registry);
  }
  store::AssociationFields Add(int update = 0) { return {" zq ", " Zq Title ", " " + program + " ", update}; }
  static store::RemovalFields Remove(int update = 0) { return {"zq", "Zq Title", update}; }

  TempDir dir;
  std::unique_ptr<IRegistry> registry;
  std::string program, empty, full;
};

TEST_F(Changes, AddWritesTheLayoutExactly) {
  RecordingPrompter p;
  const store::ChangeOutcome outcome = store::CreateAssociation(*registry, p, Add());
  EXPECT_EQ(p.boxes, (Boxes{{kDone, 0}}));
  EXPECT_FALSE(outcome.reloadList);
  EXPECT_TRUE(outcome.notifyShell);
  const std::string icon = program + ",1" + '\0', command = "\"" + program + "\" \"%1\"" + '\0';
  EXPECT_EQ(DumpClasses(*registry), "[]\n[.other]\n  \"\" type 1: " + Hex(std::string("Other") + '\0') +
                                        "\n[.zq]\n  \"\" type 1: " + Hex(std::string("Zq Title") + '\0') +
                                        "\n[Zq Title]\n[Zq Title\\DefaultIcon]\n  \"\" type 1: " + Hex(icon) +
                                        "\n[Zq Title\\shell]\n[Zq Title\\shell\\open]\n"
                                        "[Zq Title\\shell\\open\\command]\n  \"\" type 1: " + Hex(command) + "\n");
}

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
  const struct {
    const char* name;
    std::vector<Value> seeds;  // under HKEY_CURRENT_USER; "AppX…" ones under the classes
    std::string program = "", whose = "";  // "": no note
  } rows[] = {
      {"no choice", {}, ""},
      {"another extension's choice", {{choices + ".other\\UserChoice", "ProgId", "Zq.Viewer"}}, ""},
      {"a choice without its Hash, which Windows resets", {{choices + ".zq\\UserChoice", "ProgId", "Zq.Viewer"}}, ""},
      {"a ProgId with a command",
       {{choices + ".zq\\UserChoice", "ProgId", "Zq.Viewer"}, {choices + ".zq\\UserChoice", "Hash", "h="}},
       "zq viewer.exe", windows},
      {"a program the user browsed to",
       {{choices + ".ZQ\\UserChoice", "ProgId", "Applications\\notepad++.exe"}, {choices + ".ZQ\\UserChoice", "Hash", "h="}},
       "notepad++.exe", users},
      {"a store app by its name",
       {{choices + ".zq\\UserChoice", "ProgId", "AppXk0g4vb8gvt7b93tg50ybcy892pge6jmt"},
        {choices + ".zq\\UserChoice", "Hash", "h="},
        {"AppXk0g4vb8gvt7b93tg50ybcy892pge6jmt\\Application", "ApplicationName", "Блокнот"}},
       "Блокнот", windows},
      {"a store app named by an indirect string",
       {{choices + ".zq\\UserChoice", "ProgId", "AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg"},
        {choices + ".zq\\UserChoice", "Hash", "h="},
        {"AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg\\Application", "ApplicationName", kIndirectName}},
       kIndirectName == kUnresolvable ? "AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg" : "Блокнот", windows},
      {"a store app whose name cannot be resolved",
       {{choices + ".zq\\UserChoice", "ProgId", "AppX4ztfk9wxr86ypyk"}, {choices + ".zq\\UserChoice", "Hash", "h="},
        {"AppX4ztfk9wxr86ypyk\\Application", "ApplicationName", kUnresolvable}},
       "AppX4ztfk9wxr86ypyk", windows},
      {"UserChoiceLatest before a stale UserChoice",
       {{choices + ".zq\\UserChoice", "ProgId", "Applications\\old.exe"}, {choices + ".zq\\UserChoice", "Hash", "h="},
        {choices + ".zq\\UserChoiceLatest\\ProgId", "ProgId", "Zq.Viewer"},
        {choices + ".zq\\UserChoiceLatest", "Hash", "h="}},
       "zq viewer.exe", windows},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedAssociation(*registry, ".view", "Zq.Viewer", "\"C:\\Tools\\zq viewer.exe\" \"%1\"");
    for (const Value& seed : row.seeds) {
      const bool app = seed.path.rfind("AppX", 0) == 0;
      ASSERT_EQ(SeedValue(*registry, seed.path, seed.name, REG_SZ, seed.data, app ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER),
                ERROR_SUCCESS);
    }
    const std::string note = row.program.empty() ? "" : "\r\n\r\nНо Windows и дальше будет открывать файлы .zq программой «" +
                                                            row.program + "»: " + row.whose +
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
    return "\r\n\r\nНо для вас Windows и дальше будет открывать файлы " + e + " по вашим личным настройкам "
           "(HKEY_CURRENT_USER\\Software\\Classes\\" + key + "): командой " + command + ". Их Zandrel не меняет.";
  };
  const std::string usersCommand = usersNote("Zq Title\\shell\\open\\command", "user.exe %1");
  std::string usersTitle;
  {
    SCOPED_TRACE("a title only the user's classes hold: the machine's written, the user's command named");
    seedUsers("Zq Title", "user's");
    seedUsers("Zq Title\\shell\\open\\command", "user.exe %1");
    usersTitle = DumpTree(*registry, HKEY_CURRENT_USER, UsersClasses("Zq Title"));
    MergedClasses merged(*registry);
    windows::WindowsDesktop desktop(merged, {});
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
    MergedClasses merged(*registry);
    windows::WindowsDesktop desktop(merged, {});
    RecordingPrompter p;
    p.AnswerNext(IDYES);
    p.AnswerNext(IDYES);
    store::AssociationFields fields = Add();
    fields.fileExt = "zs";
    EXPECT_TRUE(store::CreateAssociation(merged, p, fields, &desktop).committed);
    const std::string shared = "Описание Zq Title называют и другие расширения: .zq, .zr.\r\nИх команда machine.exe "
                               "%1 будет заменена на " + command + ".\r\nИзменить и для них?";
    EXPECT_EQ(p.boxes, (Boxes{kReuse, {shared, 0x124},
                              {kDone + usersNote("Zq Title\\shell\\open\\command", "user.exe %1", ".zs"), 0}}));
    for (const char* e : {".zr", ".zs"}) merged.RegDeleteKeyA(HKEY_CLASSES_ROOT, e);
  }
  {
    SCOPED_TRACE("the machine's extension removed with its title under the user's own .zq");
    SeedValue(*registry, UsersClasses(".zq\\OpenWithProgids"), "Zq.Other", REG_NONE, "", HKEY_CURRENT_USER);
    MergedClasses merged(*registry);
    windows::WindowsDesktop desktop(merged, {});
    RecordingPrompter p;
    p.AnswerNext(IDYES);
    EXPECT_TRUE(store::RemoveAssociation(merged, p, Remove(), &desktop).committed);
    EXPECT_EQ(p.boxes, (Boxes{{kBoth, 0x24}, {kRemoved, 0}}));
    EXPECT_EQ(DumpClasses(*registry), empty);
    EXPECT_EQ(DumpTree(*registry, HKEY_CURRENT_USER, UsersClasses("Zq Title")), usersTitle);
  }
  {
    SCOPED_TRACE("an extension the user's classes name otherwise: added, and still theirs after the removal");
    seedUsers(".zq", "User Title");
    seedUsers("User Title\\shell\\open\\command", "other.exe %1");
    MergedClasses merged(*registry);
    windows::WindowsDesktop desktop(merged, {});
    RecordingPrompter p;
    p.AnswerNext(IDOK);
    p.AnswerNext(IDYES);
    EXPECT_TRUE(store::CreateAssociation(merged, p, Add(), &desktop).committed);
    EXPECT_TRUE(store::RemoveAssociation(merged, p, Remove(), &desktop).committed);
    const std::string note = usersNote(".zq", "other.exe %1");
    EXPECT_EQ(p.boxes, (Boxes{{kDone + note, 0}, {kBoth, 0x24}, {kRemoved + note, 0}}));
  }
  {
    SCOPED_TRACE("an extension only the user's classes hold is not removed");
    MergedClasses merged(*registry);
    windows::WindowsDesktop desktop(merged, {});
    RecordingPrompter p;
    p.AnswerNext(IDYES);
    EXPECT_FALSE(store::RemoveAssociation(merged, p, Remove(), &desktop).committed);
    EXPECT_EQ(p.boxes, (Boxes{{kBoth, 0x24},
                              {"Расширение .zq зарегистрировано только в ваших личных настройках "
                               "(HKEY_CURRENT_USER\\Software\\Classes), поэтому в списке его нет. Такую запись "
                               "Zandrel не меняет.",
                               0}}));
    EXPECT_EQ(DumpClasses(*registry), empty);
  }
}

struct AddRow {
  const char* name;
  store::AssociationFields fields;
  std::string message;  // the one box; kDone: written, E and D as the registry holds them
  std::string e = "", d = "";
  std::string program = "";  // the file the command names, when not the field trimmed
};

TEST_F(Changes, AddTable) {
  const std::string n256(256, 'n');
  std::string yo255;
  for (int i = 0; i < 255; ++i) yo255 += "Ё";
  std::string smiles128;  // two UTF-16 units each, as Windows counts a name
  for (int i = 0; i < 128; ++i) smiles128 += "\xF0\x9F\x98\x80";
  const std::string notInNames = "Расширение не может содержать знак ";
  std::vector<AddRow> rows = {
      {"ticked", {"zq", "Zq", "{P}", 1}, Ticked(kDone), ".zq", "Zq"},
      {"all empty", {"", "", "", 0}, kNoExt},
      {"spaces", {"   ", "D", "{P}", 0}, kNoExt},
      {"only a dot", {" . ", "D", "{P}", 0}, kNoExt},
      {"no description", {"zq", "   ", "", 0}, "Введите описание"},
      {"no program", {"zq", "D", "  ", 0}, "Не тормози!Выбери программу для ассациации."},
      {"missing program", {"zq", "D", " /nonexistent/x.exe ", 0}, "/nonexistent/x.exe где ты его видишь?Ламер."},
      {"folder as program", {"zq", "D", "{D}", 0}, "{D} где ты его видишь?Ламер."},
      {"control characters", {"zq", "D", "{P}\x01", 0}, "{P}\x01 где ты его видишь?Ламер."},
      {"extension key exists", {" .OTHER", "D", "{P}", 0}, ".OTHER already in registry"},
      {"long extension", {n256, "Zq", "{P}", 0}, "Unable to create ." + n256},
      {"long description", {"zq", std::string(10000, 'T'), "{P}", 0},
       "Описание длиннее 255 знаков (в нём 10000): такого раздела в реестре быть не может. Введите описание покороче."},
      {"256 characters", {"zq", yo255 + "Ж", "{P}", 0},
       "Описание длиннее 255 знаков (в нём 256): такого раздела в реестре быть не может. Введите описание покороче."},
#ifndef _WIN32
      // Wine refuses to create this title, which Windows takes (255 is its
      // documented limit): the longest name is the hive's to show.
      {"255 characters", {"zq", yo255, "{P}", 0}, kDone, ".zq", yo255},
#endif
      {"separator in the extension", {"a\\b", "D", "{P}", 0}, notInNames + "\\: .a\\b"},
      {"a file mask", {" *.zm", "Zq", "{P}", 0}, kDone, ".zm", "Zq"},
      {"a mask without a dot", {"*zm", "Zq", "{P}", 0}, kDone, ".zm", "Zq"},
      {"only a mask", {"*", "Zq", "{P}", 0}, kNoExt},
      {"star", {"*.*", "D", "{P}", 0}, notInNames + "*: .*"},
      {"question mark", {"z?", "D", "{P}", 0}, notInNames + "?: .z?"},
      {"less than", {"z<", "D", "{P}", 0}, notInNames + "<: .z<"},
      {"greater than", {"z>", "D", "{P}", 0}, notInNames + ">: .z>"},
      {"colon", {"z:q", "D", "{P}", 0}, notInNames + ":: .z:q"},
      {"quote", {"\"z\"", "D", "{P}", 0}, notInNames + "\": .\"z\""},
      {"slash", {"a/b", "D", "{P}", 0}, notInNames + "/: .a/b"},
      {"bar", {"a|b", "D", "{P}", 0}, notInNames + "|: .a|b"},
      {"a trailing dot", {"zq.", "D", "{P}", 0},
       "Расширение не может кончаться точкой: .zq. Windows отбрасывает её в именах файлов."},
      {"two dots", {"..", "D", "{P}", 0}, "Расширение не может кончаться точкой: .. Windows отбрасывает её в именах файлов."},
      {"a quoted path, blanks inside the quotes", {"zq", "Zq", " \" {P} \" ", 0}, kDone, ".zq", "Zq", "{P}"},
      {"a quoted missing path", {"zq", "D", "\"/nonexistent/x.exe\"", 0}, "/nonexistent/x.exe где ты его видишь?Ламер."},
      {"separator in the description", {"zq", "CLSID\\{0}", "", 0}, "Описание не может содержать знак \\: CLSID\\{0}"},
      {"control characters in the extension", {"\t.t\x01", "Zq", "{P}", 0},
       "Расширение не может содержать управляющие знаки (табуляцию, перевод строки): их не бывает в именах файлов."},
      {"control characters in the description", {"zq", "Zq\tTab\x07", "{P}", 0},
       "Описание не может содержать управляющие знаки (табуляцию, перевод строки). Введите другое описание."},
      {"256 UTF-16 units", {"zq", smiles128, "{P}", 0},
       "Описание длиннее 255 знаков (в нём 256): такого раздела в реестре быть не может. Введите описание покороче."},
      {"Cyrillic", {"док", " Документ Ёжика ", "{P}", 0}, kDone, ".док", "Документ Ёжика"},
      {"a device", {"dn", "Zq.Null", kDevice, 0}, kDone, ".dn", "Zq.Null"},
  };
#ifdef _WIN32
  ASSERT_EQ(_putenv_s("ZANDREL_TEST_PROGRAM", program.c_str()), 0);
  rows.push_back({"a variable", {"zq", "Zq", "%zandrel_test_program%", 0}, kDone, ".zq", "Zq", "{P}"});
  rows.push_back({"an unset variable", {"zq", "D", "%ZANDREL_UNSET%\\x.exe", 0}, "%ZANDREL_UNSET%\\x.exe где ты его видишь?Ламер."});
#endif
  for (const AddRow& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingPrompter p;
    store::AssociationFields fields = row.fields;
    fields.executableFileSpec = Fill(fields.executableFileSpec);
    FailingRegistry watched(*registry);
    const store::ChangeOutcome outcome = store::CreateAssociation(watched, p, fields);
    EXPECT_EQ(p.boxes, (Boxes{{Fill(row.message), 0}}));
    EXPECT_EQ(outcome.reloadList, row.fields.updateList == 1 && !row.e.empty());
    if (row.e.empty()) {
      EXPECT_EQ(DumpClasses(*registry), empty);
      if (row.message.find("Unable") == std::string::npos && row.message.find("already") == std::string::npos) {
        EXPECT_TRUE(watched.log.empty()) << "the fields are checked before the registry is asked";
      }
      continue;
    }
    const std::string p1 = row.program.empty() ? store::Trim(fields.executableFileSpec) : Fill(row.program);
    EXPECT_EQ(Default(row.e), row.d);
    EXPECT_EQ(Default(row.d + "\\shell\\open\\command"), "\"" + p1 + "\" \"%1\"");
    EXPECT_EQ(Default(row.d + "\\DefaultIcon"), p1 + ",1");
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedValue(*registry, ".other", "", REG_SZ, "Other");
  }
}

const std::string kAgain = " Введите другое описание.";

// A description that names no file type's title is refused by the add
// before anything is written, whatever the store holds under it; the removal
// of an extension naming one deletes the extension alone and says why the
// title stayed. An extension of the shell's own is removed only after a
// second question naming it, "Нет" by default.
TEST_F(Changes, ATitleThatIsNoFileTypeIsNeitherWrittenNorDeleted) {
  SeedAssociation(*registry, ".zr", "Zq Runs", "\"%1\" %*");
  SeedAssociation(*registry, ".scr", "Zq Saver", " %1 /S");
  SeedAssociation(*registry, ".zl", "Zq Link", "\"%L\"");
  SeedAssociation(*registry, "CLSID\\{0}", "x", "x %1");
  SeedValue(*registry, "Directory\\shell\\open\\command", "", REG_SZ, "explorer %1");
  SeedValue(*registry, "zq-proto", "URL Protocol", REG_SZ, "");
  SeedValue(*registry, "zq-proto\\shell\\open\\command", "", REG_SZ, "browser %1");
  SeedValue(*registry, "Zq Expand\\shell\\open\\command", "", REG_EXPAND_SZ, "\"%1\" %*");
  SeedValue(*registry, "Zq Zero\\shell\\open\\command", "", REG_SZ, "\"%0\" %*");
  const std::string dot = "начинается с точки, как имя расширения", shell = "системный раздел Windows, а не тип файлов",
                    url = "протокол ссылок, а не тип файлов", runs = "тип программ, которые запускаются сами";
  const struct {
    std::string d, add, kept, e = ".zk";
  } rows[] = {
      {".other", dot, "оно " + dot},
      {".zq", dot, "оно " + dot},
      {"clsid", shell, "это " + shell},
      {"Directory", shell, "это " + shell},
      {"Zq-Proto", url, "это " + url},
      {"ExeFile", runs, "это " + runs, ".EXE"},
      {"Zq Runs", runs, "это " + runs},
      {"Zq Saver", runs, "это " + runs, ".PIF"},
      {"Zq Link", runs, "это " + runs},
      {"Zq Expand", runs, "это " + runs},
      {"Zq Zero", runs, "это " + runs},
      {"Installer", shell, "это " + shell},
  };
  const auto shellQuestion = [](const std::string& e) {
    return Box{"Расширение " + e + " — файлы, которые Windows запускает сама. Без него они перестанут открываться "
               "двойным щелчком.\r\nВсё равно удалить " + e + "?", 0x124};
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.d);
    const std::string before = DumpClasses(*registry);
    {
      RecordingPrompter p;
      p.AnswerNext(6);
      FailingRegistry watched(*registry);
      store::CreateAssociation(watched, p, {"zn", row.d, program, 0});
      EXPECT_EQ(p.boxes, (Boxes{{"Описание " + row.d + (row.d[0] == '.' ? " " : " — ") + row.add + "." + kAgain, 0}}));
      EXPECT_EQ(watched.Count(kChangeOps), 0u);
      EXPECT_EQ(DumpClasses(*registry), before);
    }
    SeedKey(*registry, row.d);
    const std::string titled = DumpClasses(*registry);
    SeedValue(*registry, row.e, "", REG_SZ, row.d);
    const std::string named = DumpClasses(*registry);
    const bool own = store::ShellsOwnExtension(row.e);
    for (int answer : own ? std::vector<int>{7, 6} : std::vector<int>{6}) {
      RecordingPrompter p;
      p.AnswerNext(6);
      p.AnswerNext(answer);
      EXPECT_EQ(store::RemoveAssociation(*registry, p, {row.e, row.d, 0}).committed, answer == 6);
      Boxes expected{{"Удаляется расширенние " + row.e + "\r\nХотите удалить расширенние и описание?", 0x24}};
      if (own) expected.push_back(shellQuestion(row.e));
      if (answer == 6)
        expected.push_back({"Ассоциация удаленна из реестра " + row.e + "\r\nОписание " + row.d + " оставлено: " + row.kept + ".", 0});
      EXPECT_EQ(p.boxes, expected);
      EXPECT_EQ(DumpClasses(*registry), answer == 6 ? titled : named);
    }
  }
}

struct ReuseRow {
  const char* name;
  std::vector<std::string> others;  // other extensions naming the title
  int command;                      // the title's open command: 0 none, 1 another, 2 the add's own
  std::vector<int> answers;
  std::vector<Box> asked;  // after kReuse
  bool written;
  DWORD type = REG_SZ;  // of the title's open command
};

// A title in use: one question; when other extensions name it, a second
// that names them and the command they lose, with "Нет" as its default. A
// title that already opens files with the add's command asks neither.
TEST_F(Changes, AddAsksBeforeReusingATitle) {
  const std::string newCommand = "\"" + program + "\" \"%1\"";
  const Box sharedWithCommand{"Описание Zq Title называют и другие расширения: .za, .zb.\r\nИх команда old %1 будет "
                              "заменена на " + newCommand + ".\r\nИзменить и для них?", 0x124};
  const Box sharedBySeven{"Описание Zq Title называют и другие расширения: .za, .zb, .zc, .zd, .ze и ещё 2.\r\n"
                          "Они будут открываться командой " + newCommand + ".\r\nИзменить и для них?", 0x124};
  const ReuseRow rows[] = {
      {"unshared, no", {}, 1, {7}, {}, false},
      {"unshared, yes", {}, 1, {6}, {}, true},
      {"shared, default", {".za", ".zb"}, 1, {6}, {sharedWithCommand}, false},
      {"shared, no", {".za", ".zb"}, 1, {6, 7}, {sharedWithCommand}, false},
      {"shared, yes", {".za", ".zb"}, 1, {6, 6}, {sharedWithCommand}, true},
      {"shared, the command kept as REG_EXPAND_SZ", {".za", ".zb"}, 1, {6, 6}, {sharedWithCommand}, true, REG_EXPAND_SZ},
      {"shared by seven, no command", {".za", ".zb", ".zc", ".zd", ".ze", ".zf", ".zg"}, 0, {6, 6},
       {sharedBySeven}, true},
      {"shared, the same command", {".za", ".zb"}, 2, {}, {}, true},
  };
  for (const ReuseRow& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedValue(*registry, "Zq Title", "Kept", REG_SZ, "kept");
    SeedValue(*registry, "Zq Title\\shell\\print\\command", "", REG_SZ, "print %1");
    if (row.command != 0)
      SeedValue(*registry, "Zq Title\\shell\\open\\command", "", row.type, row.command == 1 ? "old %1" : newCommand);
    for (const std::string& e : row.others) SeedValue(*registry, e, "", REG_SZ, "zq title");
    const std::string before = DumpClasses(*registry);
    RecordingPrompter p;
    for (int answer : row.answers) p.AnswerNext(answer);
    FailingRegistry watched(*registry);
    p.onShow = [&](const Box&) { EXPECT_FALSE(watched.InTransaction()); };
    store::CreateAssociation(watched, p, Add());
    Boxes expected;
    if (row.command != 2) expected.push_back(kReuse);
    expected.insert(expected.end(), row.asked.begin(), row.asked.end());
    if (row.written) expected.push_back({kDone, 0});
    EXPECT_EQ(p.boxes, expected);
    if (!row.written) {
      EXPECT_EQ(DumpClasses(*registry), before);
      continue;
    }
    EXPECT_EQ(Default("Zq Title\\shell\\open\\command"), newCommand);
    EXPECT_EQ(Default("Zq Title\\shell\\print\\command"), "print %1");
    EXPECT_NE(DumpClasses(*registry).find("\"Kept\" type 1: 6b 65 70 74 00"), std::string::npos);
    for (const std::string& e : row.others) EXPECT_EQ(Default(e), "zq title");
  }
}

// Another program changes the store between the writer's or the remover's
// questions and its transaction: the change takes over nothing it was not
// told of.
TEST_F(Changes, WhatChangesMeanwhileIsNotTakenOver) {
  struct Racing : FailingRegistry {
    using FailingRegistry::FailingRegistry;
    LONG BeginTransaction() override {
      if (++begun == at) SeedValue(*other, seed, "", REG_SZ, "Zq Title");
      return FailingRegistry::BeginTransaction();
    }
    IRegistry* other = nullptr;
    std::string seed;
    int begun = 0, at = 1;
  };
  // The removal asks about .zr, the title's other extension, in a first
  // transaction that it ends unchanged; .zs comes before the second.
  const struct {
    const char* name;
    bool add;
    const char* seed;
    std::string message;
  } rows[] = {
      {"the extension, on an add", true, ".zq", ".zq already in registry"},
      {"an extension naming the title, on an add", true, ".zs",
       "Описание Zq Title тем временем стали называть и другие расширения: .zs. Ничего не записано."},
      {"an extension naming the title, on a removal", false, ".zs",
       "Описание Zq Title тем временем стали называть и другие расширения: .zr, .zs. Ничего не удалено."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    if (row.add) {
      SeedValue(*registry, "Zq Title\\shell\\open\\command", "", REG_SZ, "old %1");
    } else {
      SeedValue(*registry, ".zr", "", REG_SZ, "Zq Title");
      SeedZq();
    }
    Racing racing(*registry);
    racing.other = registry.get();
    racing.seed = row.seed;
    racing.at = row.add ? 1 : 2;
    RecordingPrompter p;
    p.AnswerNext(6);
    p.AnswerNext(6);
    row.add ? store::CreateAssociation(racing, p, Add()) : store::RemoveAssociation(racing, p, Remove());
    EXPECT_EQ(p.boxes.back(), (Box{row.message, 0}));
    EXPECT_EQ(Default(row.add ? "Zq Title\\shell\\open\\command" : "Zq Title\\DefaultIcon"),
              row.add ? "old %1" : "p,1");
  }
}

struct RemoveRow {
  const char* name;
  store::RemovalFields fields;
  int answer;
  Boxes boxes;
  std::string left;  // "empty", "full", or "title": only the title key is left
  bool notify;
  bool shared = false;  // .zr names the title too
  int second = 0;       // the answer to the second question
};

TEST_F(Changes, RemoveTable) {
  const std::string notTitle = ". Ничего не удалено.";
  const Box shared{"Описание Zq Title называют и другие расширения: .zr.\r\nУдалить описание и для них? Нет — удалить "
                   "только расширение .zq.", 0x124};
  const std::string kKept = "\r\nОписание Zq Title оставлено: его называют и другие расширения.";
  const RemoveRow rows[] = {
      {"both, the title in another case", {" zq ", " ZQ title ", 0}, 6, {{kBoth, 0x24}, {kRemoved, 0}}, "empty", true},
      {"ticked", {".zq", "Zq Title", 1}, 6, {{kBoth, 0x24}, {Ticked("Из реестра удаленно расширенние .zq"), 0}}, "empty",
       true},
      {"extension only", {"zq", "   ", 0}, 6, {{kKeepTitle, 0x24}, {kRemoved, 0}}, "title", true},
      {"empty extension", {"  ", "Zq Title", 0}, 6, {{kNoExt, 0}}, "full", false},
      {"separator in the description", {"zq", "Zq Title\\shell", 0}, 6,
       {{"Описание не может содержать знак \\: Zq Title\\shell", 0}}, "full", false},
      {"answer no", {"zq", "Zq Title", 0}, 7, {{kBoth, 0x24}}, "full", false},
      {"answer ok", {"zq", "Zq Title", 0}, 1, {{kBoth, 0x24}}, "full", false},
      {"no extension key", {"nope", "Zq Title", 0}, 6,
       {{"Удаляется расширенние .nope\r\nХотите удалить расширенние и описание?", 0x24},
        {"Unable to open subkey .nope.  Pleaser re-check your entry", 0}}, "full", false},
      {"no title key", {"zq", "No Such", 0}, 6,
       {{kBoth, 0x24}, {"Не удалось открыть subkey No Such.  Please re-check your entry", 0}}, "full", false},
      {"not the extension's title", {"zq", "Other", 0}, 6,
       {{kBoth, 0x24}, {"Описание Other не принадлежит расширению .zq" + notTitle, 0}}, "full", false},
      {"shared title, its default", {"zq", "Zq Title", 0}, 6, {{kBoth, 0x24}, shared, {kRemoved + kKept, 0}}, "title",
       true, true, 7},
      {"shared title, ticked, no", {"zq", "Zq Title", 1}, 6,
       {{kBoth, 0x24}, shared, {Ticked("Из реестра удаленно расширенние .zq" + kKept), 0}}, "title", true, true, 1},
      {"shared title, yes", {"zq", "Zq Title", 0}, 6, {{kBoth, 0x24}, shared, {kRemoved, 0}}, "empty", true, true, 6},
      {"an extension without a title", {"untitled", "Zq Title", 0}, 6,
       {{"Удаляется расширенние .untitled\r\nХотите удалить расширенние и описание?", 0x24},
        {"Описание Zq Title не принадлежит расширению .untitled" + notTitle, 0}}, "full", false},
  };
  for (const RemoveRow& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedAssociation(*registry, ".other", "Other", "o %1");
    SeedZq();
    SeedKey(*registry, ".untitled");
    if (row.shared) SeedValue(*registry, ".zr", "", REG_SZ, "ZQ TITLE");
    const std::string before = DumpClasses(*registry);
    RecordingPrompter p;
    p.AnswerNext(row.answer);
    if (row.second != 0) p.AnswerNext(row.second);
    FailingRegistry watched(*registry);  // reading and deleting is all a removal asks rights for
    watched.RefuseOpenRights(KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK);
    const store::ChangeOutcome outcome = store::RemoveAssociation(watched, p, row.fields);
    EXPECT_EQ(p.boxes, row.boxes);
    EXPECT_EQ(outcome.notifyShell, row.notify);
    EXPECT_EQ(outcome.reloadList, row.fields.updateList == 1);
    if (row.left == "full") {
      EXPECT_EQ(DumpClasses(*registry), before);
    }
    EXPECT_EQ(Default(".zq"), row.left == "full" ? "Zq Title" : "<no key>");
    EXPECT_EQ(Default("Zq Title\\DefaultIcon"), row.left == "empty" ? "<no key>" : "p,1");
    EXPECT_EQ(Default("Other\\shell\\open\\command"), "o %1");
    if (row.shared) {
      EXPECT_EQ(Default(".zr"), "ZQ TITLE");
    }
    if (std::string(row.name) == "ticked") {  // deepest first, each below its parent
      EXPECT_EQ(watched.Lines(DeleteKey), (std::vector<std::string>{"DeleteKey .zq -> 0", "DeleteKey DefaultIcon -> 0",
                                                                    "DeleteKey command -> 0", "DeleteKey open -> 0",
                                                                    "DeleteKey shell -> 0", "DeleteKey Zq Title -> 0"}));
    }
  }
}

struct StepRow {
  const char* step;
  bool add;
  std::uint32_t ops;
  std::uint64_t nth;
  std::vector<std::string> messages;  // "{P}": the program's path
  bool reads = false;  // the failing call only reads: a refusal there asks for no administrator
};

const std::string kBusyRefusal = "Ассоциации сейчас изменяет другая копия Zandrel. Повторите попытку позже.";
const std::string kRightsRefusal =
    "Для изменения ассоциаций нужны права администратора. Запустите Zandrel от имени администратора.";

// Each step failing: its messages in order, after the transaction has
// ended, then why when the registry said so (another copy holds the lock;
// on Windows, a change that needs an administrator); nothing changed; a
// removal still tells the shell.
TEST_F(Changes, EachFailingStepShowsItsMessagesAndChangesNothing) {
  const std::string cmd = "Zq Title\\shell\\open\\command", icon = "Zq Title\\DefaultIcon";
  const StepRow rows[] = {
      {"begin", true, Begin, 1, {"Unable to create .zq"}},
      {"open the machine's classes", true, Open, 3, {"Unable to create .zq"}},
      {"create E", true, Create, 1, {"Unable to create .zq"}},
      {"read D under the lock", true, Open, 4, {"Unable to create .zq"}, true},
      {"open E", true, Open, 5, {"Unable to set value of Zq Title to .zq"}},
      {"set E", true, SetValue, 1, {"Unable to set value of Zq Title to subkey ", "Unable to set value of Zq Title to .zq"}},
      {"create D", true, Create, 2, {"Unable to create Zq Title"}},
      {"create command", true, Create, 3, {"Unable to create " + cmd}},
      {"open command", true, Open, 6, {"Unable to set value to " + cmd}},
      {"set command", true, SetValue, 2,
       {"Unable to set value of \"{P}\" \"%1\" to subkey ", "Unable to set value to " + cmd}},
      {"create icon", true, Create, 4, {"Unable create " + icon}},
      {"open icon", true, Open, 7, {"Unable to set value to " + icon}},
      {"set icon", true, SetValue, 3, {"Unable to set value of {P},1 to subkey ", "Unable to set value to " + icon}},
      {"commit add", true, Commit, 1, {"Unable to set value to " + icon}},
      {"begin removal", false, Begin, 1, {kNotRemoved}},
      {"open the machine's classes to remove", false, Open, 4, {kNotRemoved}, true},
      {"delete E", false, DeleteKey, 1, {kNotRemoved}},
      {"read E's title", false, Open, 4, {kNotRemoved}, true},
      {"read the extensions naming D under the lock", false, Naming, 1, {kNotRemoved}, true},
      {"open E to delete", false, Open, 7, {"Unable to open .zq", kNotRemoved}, true},
      {"delete DefaultIcon", false, DeleteKey, 2, {kNotRemoved}},
      {"delete command", false, DeleteKey, 3, {kNotRemoved}},
      {"delete shell", false, DeleteKey, 5, {kNotRemoved}},
      {"delete D", false, DeleteKey, 6, {kNotRemoved}},
      {"open D to delete", false, Open, 9, {"Unable to open Zq Title", kNotRemoved}, true},
      {"commit removal", false, Commit, 1, {kNotRemoved}},
  };
  for (const StepRow& row : rows) {
    for (LONG code : {ERROR_ACCESS_DENIED, ERROR_WRITE_FAULT, ERROR_BUSY}) {
      SCOPED_TRACE(std::string(row.step) + " fails with " + std::to_string(code));
      registry = MakeRegistry(dir.Path() + "/" + row.step + std::to_string(code));
      if (!row.add) SeedZq();
      const std::string before = DumpClasses(*registry);
      FailingRegistry failing(*registry);
      failing.FailNth(row.nth, code, row.ops);
      RecordingPrompter p;
      p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
      p.AnswerNext(6);
      const store::ChangeOutcome outcome = row.add ? store::CreateAssociation(failing, p, Add(1))
                                                   : store::RemoveAssociation(failing, p, Remove(1));
      EXPECT_TRUE(failing.Injected());
      EXPECT_FALSE(outcome.reloadList);
      EXPECT_EQ(outcome.notifyShell, !row.add);
      Boxes expected;
      if (!row.add) expected.push_back({kBoth, 0x24});
      for (const std::string& m : row.messages) expected.push_back({Fill(m), 0});
      if (code == ERROR_BUSY) expected.push_back({kBusyRefusal, 0});
#ifdef _WIN32
      if (code == ERROR_ACCESS_DENIED && !row.reads) expected.push_back({kRightsRefusal, 0});
#endif
      EXPECT_EQ(p.boxes, expected);
      EXPECT_EQ(DumpClasses(*registry), before);
    }
  }
}

// Whatever single call fails, the store ends fully changed or exactly as
// before, and no box shows while the registry is locked.
TEST_F(Changes, AnySingleFailingCallLeavesAllOrNothing) {
  for (bool add : {true, false}) {
    SCOPED_TRACE(add ? "add" : "removal");
    auto run = [&](IRegistry& r, RecordingPrompter& p) {
      p.AnswerNext(6);
      return add ? store::CreateAssociation(r, p, Add()) : store::RemoveAssociation(r, p, Remove());
    };
    int resets = 0;
    auto reset = [&] {
      registry = MakeRegistry(dir.Path() + (add ? "/add" : "/remove") + std::to_string(resets++));
      if (!add) SeedZq();
      return DumpClasses(*registry);
    };
    const std::string before = reset();
    FailingRegistry counting(*registry);
    RecordingPrompter clean;
    run(counting, clean);
    const std::string after = DumpClasses(*registry);
    const std::string done = clean.boxes.back().text;
    ASSERT_GT(counting.Count(), 12u);
    for (std::uint64_t n = 1; n <= counting.Count(); ++n) {
      SCOPED_TRACE(n);
      if (DumpClasses(*registry) != before) reset();
      FailingRegistry failing(*registry);
      failing.FailNth(n, ERROR_WRITE_FAULT);
      RecordingPrompter p;
      p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
      run(failing, p);
      ASSERT_FALSE(p.boxes.empty());
      EXPECT_EQ(DumpClasses(*registry), p.boxes.back().text == done ? after : before);
    }
  }
}

// The program path is only ever opened for reading: a FIFO nobody writes to
// does not block, and nothing in its folder is created or changed.
TEST(FileExists, TrueOnlyForWhatOpensForReading) {
  TempDir dir;
  const std::string file = dir.Write("f/prog.exe", "MZ");
  std::vector<std::pair<std::string, bool>> rows = {{file, true}, {dir.File("f"), false}, {"", false},
                                                    {dir.File("f/missing"), false}, {file + "/", false},
                                                    {std::string("a\0b", 3), false}};
#ifndef _WIN32
  const std::string locked = dir.Write("f/locked", "MZ");
  ASSERT_EQ(::mkfifo(dir.File("f/fifo").c_str(), 0600), 0);
  ::chmod(locked.c_str(), 0);
  rows.insert(rows.end(), {{dir.File("f/fifo"), true}, {locked, ::geteuid() == 0}});
#endif
  const std::string before = ReadFile(file);
  for (const auto& [path, exists] : rows) EXPECT_EQ(store::FileExists(path), exists) << path;
  EXPECT_EQ(ReadFile(file), before);
}

}  // namespace
}  // namespace zandrel::testing
