// The writer and the remover: every message byte for byte with its flags,
// and the registry as they leave it.
#include <gtest/gtest.h>

#include "store/ChangesFixture.h"

namespace zandrel::testing {
namespace {

struct AddRow {
  std::string name;
  store::AssociationFields fields;
  std::string message;  // the one box; kDone: written, E and D as the registry holds them
  std::string e = "", d = "";
  std::string program = "";  // the file the command names, when not the field trimmed
};

// A written row leaves exactly E -> D with D's open command and icon.
TEST_F(Changes, AddTable) {
  const std::string n256(256, 'n');
  std::string yo255;
  for (int i = 0; i < 255; ++i) yo255 += "Ё";
  std::string smiles128;  // two UTF-16 units each, as Windows counts a name
  for (int i = 0; i < 128; ++i) smiles128 += "\xF0\x9F\x98\x80";
  const auto tooLong = [](int n) {
    return "Описание длиннее 255 знаков (в нём " + std::to_string(n) +
           "): такого раздела в реестре быть не может. Введите описание покороче.";
  };
  const auto endsInDot = [](const std::string& e) {
    return "Расширение не может кончаться точкой: " + e + " Windows отбрасывает её в именах файлов.";
  };
  // clang-format off
  // A character no file name holds, and the first one the extension names.
  const std::pair<std::string, char> notInNames[] = {{"a\\b", '\\'}, {"z*", '*'}, {"z?", '?'}, {"z<", '<'},
      {"z>", '>'}, {"z:q", ':'}, {"\"z\"", '"'}, {"a/b", '/'}, {"a|b", '|'}};
  std::vector<AddRow> rows = {
      {"plain", {" zq ", " Zq Title ", " {P} ", 0}, kDone, ".zq", "Zq Title"},
      {"ticked", {"zq", "Zq", "{P}", 1}, Ticked(kDone), ".zq", "Zq"},
      {"all empty", {"", "", "", 0}, kNoExt},
      {"spaces", {"   ", "D", "{P}", 0}, kNoExt},
      {"only a dot", {" . ", "D", "{P}", 0}, kNoExt},
      {"no description", {"zq", "   ", "", 0}, "Введите описание"},
      {"no program", {"zq", "D", "  ", 0}, "Не тормози!Выбери программу для ассациации."},
      {"missing program", {"zq", "D", " /nonexistent/x.exe ", 0}, "/nonexistent/x.exe где ты его видишь?Ламер."},
      {"extension key exists", {" .OTHER", "D", "{P}", 0}, ".OTHER already in registry"},
      {"long extension", {n256, "Zq", "{P}", 0}, "Unable to create ." + n256},
      {"long description", {"zq", std::string(10000, 'T'), "{P}", 0}, tooLong(10000)},
      {"256 characters", {"zq", yo255 + "Ж", "{P}", 0}, tooLong(256)},
      {"256 UTF-16 units", {"zq", smiles128, "{P}", 0}, tooLong(256)},
#ifndef _WIN32
      // Wine refuses to create this title, which Windows takes (255 is its
      // documented limit): the longest name is the hive's to show.
      {"255 characters", {"zq", yo255, "{P}", 0}, kDone, ".zq", yo255},
#endif
      {"a file mask", {" *.zm", "Zq", "{P}", 0}, kDone, ".zm", "Zq"},
      {"a mask without a dot", {"*zm", "Zq", "{P}", 0}, kDone, ".zm", "Zq"},
      {"only a mask", {"*", "Zq", "{P}", 0}, kNoExt},
      {"a mask of every extension", {"*.*", "D", "{P}", 0}, "Расширение не может содержать знак *: .*"},
      {"a trailing dot", {"zq.", "D", "{P}", 0}, endsInDot(".zq.")},
      {"two dots", {"..", "D", "{P}", 0}, endsInDot("..")},
      {"a quoted path, blanks inside the quotes", {"zq", "Zq", " \" {P} \" ", 0}, kDone, ".zq", "Zq", "{P}"},
      {"a quoted missing path", {"zq", "D", "\"/nonexistent/x.exe\"", 0}, "/nonexistent/x.exe где ты его видишь?Ламер."},
      {"separator in the description", {"zq", "CLSID\\{0}", "", 0}, "Описание не может содержать знак \\: CLSID\\{0}"},
      {"control characters in the extension", {"\t.t\x01", "Zq", "{P}", 0},
       "Расширение не может содержать управляющие знаки (табуляцию, перевод строки): их не бывает в именах файлов."},
      {"control characters in the description", {"zq", "Zq\tTab\x07", "{P}", 0},
       "Описание не может содержать управляющие знаки (табуляцию, перевод строки). Введите другое описание."},
      {"Cyrillic", {"док", " Документ Ёжика ", "{P}", 0}, kDone, ".док", "Документ Ёжика"},
      {"a device", {"dn", "Zq.Null", kDevice, 0}, kDone, ".dn", "Zq.Null"},
  };
  // clang-format on
  for (const auto& [e, c] : notInNames)
    rows.push_back({e, {e, "D", "{P}", 0}, "Расширение не может содержать знак " + std::string(1, c) + ": ." + e});
#ifdef _WIN32
  ASSERT_EQ(_putenv_s("ZANDREL_TEST_PROGRAM", program.c_str()), 0);
  rows.push_back({"a variable", {"zq", "Zq", "%zandrel_test_program%", 0}, kDone, ".zq", "Zq", "{P}"});
  rows.push_back({"an unset variable",
                  {"zq", "D", "%ZANDREL_UNSET%\\x.exe", 0},
                  "%ZANDREL_UNSET%\\x.exe где ты его видишь?Ламер."});
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
    EXPECT_EQ(outcome.notifyShell, !row.e.empty());
    if (row.e.empty()) {
      EXPECT_EQ(DumpClasses(*registry), empty);
      if (row.message.find("Unable") == std::string::npos && row.message.find("already") == std::string::npos) {
        EXPECT_TRUE(watched.log.empty()) << "the fields are checked before the registry is asked";
      }
      continue;
    }
    const std::string p1 = row.program.empty() ? store::Trim(fields.executableFileSpec) : Fill(row.program);
    const auto sz = [](const std::string& s) { return "  \"\" type 1: " + Hex(s + '\0') + "\n"; };
    const std::string d = "[" + row.d, written = "[" + row.e + "]\n" + sz(row.d) + d + "]\n" + d + "\\DefaultIcon]\n" +
                                                 sz(p1 + ",1") + d + "\\shell]\n" + d + "\\shell\\open]\n" + d +
                                                 "\\shell\\open\\command]\n" + sz("\"" + p1 + "\" \"%1\"");
    EXPECT_EQ(DumpTree(*registry, HKEY_CLASSES_ROOT, row.e) + DumpTree(*registry, HKEY_CLASSES_ROOT, row.d), written);
    EXPECT_EQ(DumpClasses(*registry).size(), empty.size() + written.size()) << "and nothing else";
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
  // clang-format off
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
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.d);
    const std::string before = DumpClasses(*registry);
    {
      RecordingPrompter p{6};
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
      RecordingPrompter p{6, answer};
      EXPECT_EQ(store::RemoveAssociation(*registry, p, {row.e, row.d, 0}).committed, answer == 6);
      Boxes expected{{"Удаляется расширенние " + row.e + "\r\nХотите удалить расширенние и описание?", 0x24}};
      if (own)
        expected.push_back({"Расширение " + row.e +
                                " — файлы, которые Windows запускает сама. Без него они перестанут открываться "
                                "двойным щелчком.\r\nВсё равно удалить " +
                                row.e + "?",
                            0x124});
      if (answer == 6)
        expected.push_back(
            {"Ассоциация удаленна из реестра " + row.e + "\r\nОписание " + row.d + " оставлено: " + row.kept + ".", 0});
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
  const Box sharedWithCommand{
      "Описание Zq Title называют и другие расширения: .za, .zb.\r\nИх команда old %1 будет "
      "заменена на " +
          newCommand + ".\r\nИзменить и для них?",
      0x124};
  const Box sharedBySeven{
      "Описание Zq Title называют и другие расширения: .za, .zb, .zc, .zd, .ze и ещё 2.\r\n"
      "Они будут открываться командой " +
          newCommand + ".\r\nИзменить и для них?",
      0x124};
  // clang-format off
  const ReuseRow rows[] = {
      {"unshared, no", {}, 1, {7}, {}, false},
      {"unshared, yes", {}, 1, {6}, {}, true},
      {"shared, no by default", {".za", ".zb"}, 1, {6}, {sharedWithCommand}, false},
      {"shared, yes", {".za", ".zb"}, 1, {6, 6}, {sharedWithCommand}, true},
      {"shared, the command kept as REG_EXPAND_SZ", {".za", ".zb"}, 1, {6, 6}, {sharedWithCommand}, true, REG_EXPAND_SZ},
      {"shared by seven, no command", {".za", ".zb", ".zc", ".zd", ".ze", ".zf", ".zg"}, 0, {6, 6},
       {sharedBySeven}, true},
      {"shared, the same command", {".za", ".zb"}, 2, {}, {}, true},
  };
  // clang-format on
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
  struct Racing : FailingRegistry {  // seeds an extension naming the title as the at-th change begins
    Racing(IRegistry& registry, std::string seed, int at) : FailingRegistry(registry), seed(std::move(seed)), at(at) {}
    LONG BeginTransaction() override {
      if (++begun == at) SeedValue(Target(), seed, "", REG_SZ, "Zq Title");
      return FailingRegistry::BeginTransaction();
    }
    std::string seed;
    int begun = 0, at;
  };
  // The removal asks about .zr, the title's other extension, in a first
  // transaction that it ends unchanged; .zs comes before the second.
  // clang-format off
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
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedValue(*registry, row.add ? "Zq Title\\shell\\open\\command" : ".zr", "", REG_SZ,
              row.add ? "old %1" : "Zq Title");
    if (!row.add) SeedZq();
    Racing racing(*registry, row.seed, row.add ? 1 : 2);
    RecordingPrompter p{6, 6};
    row.add ? store::CreateAssociation(racing, p, Add()) : store::RemoveAssociation(racing, p, Remove());
    EXPECT_EQ(p.boxes.back(), (Box{row.message, 0}));
    EXPECT_EQ(Default(row.add ? "Zq Title\\shell\\open\\command" : "Zq Title\\DefaultIcon"),
              row.add ? "old %1" : "p,1");
  }
}

}  // namespace
}  // namespace zandrel::testing
