// The remover's table, and the writer and the remover when a call fails:
// their messages, and all or nothing whichever call fails.
#include <gtest/gtest.h>

#include "store/ChangesFixture.h"

namespace zandrel::testing {
namespace {

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
  const Box shared{
      "Описание Zq Title называют и другие расширения: .zr.\r\nУдалить описание и для них? Нет — удалить "
      "только расширение .zq.",
      0x124};
  const std::string kKept = "\r\nОписание Zq Title оставлено: его называют и другие расширения.";
  // clang-format off
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
  // clang-format on
  for (const RemoveRow& row : rows) {
    SCOPED_TRACE(row.name);
    registry = MakeRegistry(dir.Path() + "/" + row.name);
    SeedAssociation(*registry, ".other", "Other", "o %1");
    SeedZq();
    SeedKey(*registry, ".untitled");
    if (row.shared) SeedValue(*registry, ".zr", "", REG_SZ, "ZQ TITLE");
    const std::string before = DumpClasses(*registry);
    RecordingPrompter p{row.answer};
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
      EXPECT_EQ(watched.Lines(DeleteKey),
                (std::vector<std::string>{"DeleteKey .zq -> 0", "DeleteKey DefaultIcon -> 0", "DeleteKey command -> 0",
                                          "DeleteKey open -> 0", "DeleteKey shell -> 0", "DeleteKey Zq Title -> 0"}));
    }
  }
}

struct StepRow {
  const char* step;
  bool add;
  std::uint32_t ops;
  std::uint64_t nth;
  std::vector<std::string> messages;  // "{P}": the program's path
  bool reads = false;                 // the failing call only reads: a refusal there asks for no administrator
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
  // clang-format off
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
  // clang-format on
  for (const StepRow& row : rows) {
    for (LONG code : {ERROR_ACCESS_DENIED, ERROR_WRITE_FAULT, ERROR_BUSY}) {
      SCOPED_TRACE(std::string(row.step) + " fails with " + std::to_string(code));
      registry = MakeRegistry(dir.Path() + "/" + row.step + std::to_string(code));
      if (!row.add) SeedZq();
      const std::string before = DumpClasses(*registry);
      FailingRegistry failing(*registry);
      failing.FailNth(row.nth, code, row.ops);
      RecordingPrompter p{6};
      p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
      const store::ChangeOutcome outcome =
          row.add ? store::CreateAssociation(failing, p, Add(1)) : store::RemoveAssociation(failing, p, Remove(1));
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
  std::vector<std::pair<std::string, bool>> rows = {{file, true},        {dir.File("f"), false},
                                                    {"", false},         {dir.File("f/missing"), false},
                                                    {file + "/", false}, {std::string("a\0b", 3), false}};
#ifndef _WIN32
  const std::string locked = dir.Write("f/locked", "MZ");
  ASSERT_EQ(::mkfifo(dir.File("f/fifo").c_str(), 0600), 0);
  ::chmod(locked.c_str(), 0);
  rows.insert(rows.end(), {{dir.File("f/fifo"), true}, {locked, ::geteuid() == 0}});
#endif
  for (const auto& [path, exists] : rows) EXPECT_EQ(store::FileExists(path), exists) << path;
  EXPECT_EQ(ReadFile(file), "MZ");
}

}  // namespace
}  // namespace zandrel::testing
