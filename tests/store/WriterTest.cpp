#include <filesystem>

#include "store/AssociationChanges.h"
#include "store/StoreFixture.h"

namespace zandrel::testing {
namespace {

using Box = RecordingPrompter::Box;
using store::AssociationFields;
using store::CreateAssociation;

const std::string kSuccessTicked =
    "Всё прошло успешно.\r\n\r\n"
    "Что увидеть результат в списке нажмите кнопку показать.\r\n\r\n"
    "Если у вас стоит галочка в Показать изменнения , то измения\r\n\r\n"
    "будут вам показываться сразу после того как вы нажмёте \r\n\r\n"
    "кнопку Ок. Если вам это не нужно, не забывайте уберать галочку.";

class Writer : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    program = dir.WriteFile("my prog.exe", "MZ");
  }
  AssociationFields Fields(int update = 0) { return AssociationFields{" zq ", " Zq Title ", " " + program + " ", update}; }
  // The open command written for `program`.
  static std::string Command(const std::string& program) { return "\"" + program + "\" \"%1\""; }
  // The classes store after a successful add of Fields() on an empty store.
  std::string Written() {
    return "[]\n[.zq]\n  @ type 1 size 9: " + Hex(std::string("Zq Title") + '\0') + "\n[Zq Title]\n" +
           "[Zq Title\\DefaultIcon]\n  @ type 1 size " + std::to_string(program.size() + 3) + ": " +
           Hex(program + ",1" + '\0') + "\n[Zq Title\\shell]\n[Zq Title\\shell\\open]\n" +
           "[Zq Title\\shell\\open\\command]\n  @ type 1 size " + std::to_string(program.size() + 8) + ": " +
           Hex(Command(program) + '\0') + "\n";
  }
  std::string program;
};

TEST_P(Writer, WritesTheLayoutAndReportsSuccess) {
  store::ChangeOutcome outcome = CreateAssociation(*registry, prompter, Fields(0));
  EXPECT_FALSE(outcome.reloadList);
  EXPECT_FALSE(outcome.notifyShell);
  EXPECT_EQ(prompter.boxes, (std::vector<Box>{{"Всё прошло успешно.", 0}}));
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, ".zq", 0), std::string("|1|Zq Title") + '\0');
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "Zq Title\\DefaultIcon", 0), "|1|" + program + ",1" + '\0');
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "Zq Title", 0), "");
  EXPECT_EQ(DumpClasses(*registry), Written());
}

TEST_P(Writer, TickedUpdateGivesTheLongMessageAndAsksForAReload) {
  store::ChangeOutcome outcome = CreateAssociation(*registry, prompter, Fields(1));
  EXPECT_TRUE(outcome.reloadList);
  EXPECT_EQ(prompter.boxes, (std::vector<Box>{{kSuccessTicked, 0}}));
}

TEST_P(Writer, NonAsciiTextsAreWrittenWhole) {
  const std::string prog = dir.WriteFile("Программа.exe", "MZ");
  CreateAssociation(*registry, prompter, AssociationFields{"док", "Документ Ёжика", prog, 0});
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, ".док", 0), std::string("|1|Документ Ёжика") + '\0');
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "документ ёжика\\shell\\open\\command", 0), "|1|" + Command(prog) + '\0');
}

struct CheckRow {
  const char* name;
  AssociationFields fields;  // "PROG" stands for an existing program file
  const char* message;       // "PROG" and "E" stand for the path and the prepared extension
};

TEST_P(Writer, FieldChecksInOrderOnlyTheFirstFailingOneReported) {
  const CheckRow rows[] = {
      {"all empty", {"", "", "", 0}, "Введите имя расширенния"},
      {"spaces", {"   ", "D", "PROG", 0}, "Введите имя расширенния"},
      {"only dot", {" . ", "D", "PROG", 0}, "Введите имя расширенния"},
      {"no description", {"zq", "   ", "", 0}, "Введите описание"},
      {"no program", {"zq", "D", "  ", 0}, "Не тормози!Выбери программу для ассациации."},
      {"missing program", {"zq", "D", " /nonexistent/x.exe ", 0}, "/nonexistent/x.exe где ты его видишь?Ламер."},
      {"folder as program", {"zq", "D", "DIR", 0}, "DIR где ты его видишь?Ламер."},
      {"separator in extension", {"a\\b", "D", "PROG", 0}, "Расширение не может содержать знак \\: .a\\b"},
      {"separator in description", {"zq", "CLSID\\{0}", "", 0}, "Описание не может содержать знак \\: CLSID\\{0}"},
  };
  for (const CheckRow& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingPrompter p;
    AssociationFields f = row.fields;
    if (f.executableFileSpec == "PROG") f.executableFileSpec = program;
    if (f.executableFileSpec == "DIR") f.executableFileSpec = dir.Path();
    std::string expected = row.message;
    if (expected.rfind("DIR", 0) == 0) expected = dir.Path() + expected.substr(3);
    FailingRegistry failing(*registry);
    CreateAssociation(failing, p, f);
    EXPECT_EQ(p.boxes, (std::vector<Box>{{expected, 0}}));
    EXPECT_TRUE(failing.log.empty());
  }
}

TEST_P(Writer, ExistingExtensionStopsWithoutAQuestion) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".ZQ", "", REG_SZ, "Other");
  SeedKey(*registry, HKEY_CLASSES_ROOT, "Zq Title");
  const std::string before = DumpClasses(*registry);
  CreateAssociation(*registry, prompter, AssociationFields{" .zq", "Zq Title", program, 1});
  EXPECT_EQ(prompter.boxes, (std::vector<Box>{{".zq already in registry", 0}}));
  EXPECT_EQ(DumpClasses(*registry), before);
}

TEST_P(Writer, ExistingTitleAskedAndOnlyYesReusesIt) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title", "Kept", REG_SZ, "kept");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title\\shell\\open\\command", "", REG_SZ, "old %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title\\shell\\print\\command", "", REG_SZ, "print %1");
  const std::string before = DumpClasses(*registry);
  const Box question{"Title Ref already in existence in the registery.\r\nProceed still?", 0x24};
  for (int answer : {7, 1, 2}) {
    RecordingPrompter p;
    p.AnswerNext(answer);
    CreateAssociation(*registry, p, Fields());
    EXPECT_EQ(p.boxes, (std::vector<Box>{question}));
    EXPECT_EQ(DumpClasses(*registry), before);
  }
  prompter.AnswerNext(6);
  FailingRegistry watched(*registry);
  prompter.onShow = [&](const Box&) { EXPECT_FALSE(watched.InTransaction()); };
  CreateAssociation(watched, prompter, Fields());
  EXPECT_EQ(prompter.boxes, (std::vector<Box>{question, {"Всё прошло успешно.", 0}}));
  // Both existence checks, and the question, come before the transaction.
  const std::vector<std::string> calls = watched.LogLines(RegOp::Open | RegOp::Begin | RegOp::Commit);
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 3),
            (std::vector<std::string>{"Open .zq -> 2", "Open Zq Title -> 0", "Begin  -> 0"}));
  EXPECT_EQ(calls.back(), "Commit  -> 0");
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "Zq Title", 0), std::string("Kept|1|kept") + '\0');
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "Zq Title\\shell\\open\\command", 0), "|1|" + Command(program) + '\0');
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "Zq Title\\shell\\print\\command", 0), std::string("|1|print %1") + '\0');
}

// Names the registry refuses fail at their creation, with that step's
// message, and leave nothing behind.
TEST_P(Writer, NamesTheRegistryRefusesLeaveNothing) {
  const std::string longName(256, 'n');
  struct Row {
    AssociationFields fields;
    std::string message;
  };
  const Row rows[] = {
      {{longName, "Zq Title", program, 0}, "Unable to create ." + longName},
      {{"zq", longName, program, 0}, "Unable to create " + longName},
  };
  const std::string before = DumpClasses(*registry);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message.substr(0, 40));
    RecordingPrompter p;
    CreateAssociation(*registry, p, row.fields);
    EXPECT_EQ(p.boxes, (std::vector<Box>{{row.message, 0}}));
    EXPECT_EQ(DumpClasses(*registry), before);
  }
}

// Unquoted, a path with spaces would run the first prefix that names a
// program, and a file name with spaces would reach it as several arguments.
TEST_P(Writer, ProgramAndFileAreQuotedInTheCommand) {
  CreateAssociation(*registry, prompter, Fields());
  EXPECT_NE(program.find(' '), std::string::npos);
  EXPECT_EQ(ValueAt(HKEY_CLASSES_ROOT, "Zq Title\\shell\\open\\command", 0),
            "|1|\"" + program + "\" \"%1\"" + '\0');
}

// Stands for another program that creates the extension key between the
// writer's existence test and its transaction.
class CreatesExtensionMeanwhile : public FailingRegistry {
 public:
  explicit CreatesExtensionMeanwhile(IRegistry& inner) : FailingRegistry(inner), inner_(inner) {}
  LONG BeginTransaction() override {
    SeedValue(inner_, HKEY_CLASSES_ROOT, ".zq", "", REG_SZ, "Theirs");
    return FailingRegistry::BeginTransaction();
  }

 private:
  IRegistry& inner_;
};

TEST_P(Writer, ExtensionCreatedMeanwhileIsNotTakenOver) {
  CreatesExtensionMeanwhile racing(*registry);
  CreateAssociation(racing, prompter, Fields());
  EXPECT_EQ(prompter.boxes, (std::vector<Box>{{".zq already in registry", 0}}));
  EXPECT_EQ(DumpClasses(*registry), "[]\n[.zq]\n  @ type 1 size 7: " + Hex(std::string("Theirs") + '\0') + "\n");
}

struct FailureRow {
  const char* step;
  std::uint32_t ops;
  std::uint64_t nth;
  std::vector<std::string> messages;  // "P" stands for the program path
};

// Every row of the failure table: the step's messages in their order, and
// nothing new in the registry (the add is one transaction).
TEST_P(Writer, EachFailingStepShowsItsMessagesAndLeavesNothing) {
  const std::string cmd = "Zq Title\\shell\\open\\command";
  const FailureRow rows[] = {
      {"begin", Ops(RegOp::Begin), 1, {"Unable to create .zq"}},
      {"create E", Ops(RegOp::Create), 1, {"Unable to create .zq"}},
      {"open E for writing", Ops(RegOp::Open), 3, {"Unable to set value of Zq Title to .zq"}},
      {"set E", Ops(RegOp::SetValue), 1,
       {"Unable to set value of Zq Title to subkey ", "Unable to set value of Zq Title to .zq"}},
      {"create D", Ops(RegOp::Create), 2, {"Unable to create Zq Title"}},
      {"create command", Ops(RegOp::Create), 3, {"Unable to create " + cmd}},
      {"open command", Ops(RegOp::Open), 4, {"Unable to set value to " + cmd}},
      {"set command", Ops(RegOp::SetValue), 2,
       {"Unable to set value of \"P\" \"%1\" to subkey ", "Unable to set value to " + cmd}},
      {"create icon", Ops(RegOp::Create), 4, {"Unable create Zq Title\\DefaultIcon"}},
      {"open icon", Ops(RegOp::Open), 5, {"Unable to set value to Zq Title\\DefaultIcon"}},
      {"set icon", Ops(RegOp::SetValue), 3,
       {"Unable to set value of P,1 to subkey ", "Unable to set value to Zq Title\\DefaultIcon"}},
      {"commit", Ops(RegOp::Commit), 1, {"Unable to set value to Zq Title\\DefaultIcon"}},
  };
  SeedValue(*registry, HKEY_CLASSES_ROOT, ".other", "", REG_SZ, "Other");
  const std::string before = DumpClasses(*registry);
  for (const FailureRow& row : rows) {
    for (LONG code : {ERROR_ACCESS_DENIED, ERROR_WRITE_FAULT}) {
      SCOPED_TRACE(std::string(row.step) + " code " + std::to_string(code));
      FailingRegistry failing(*registry);
      failing.FailNth(row.nth, code, row.ops);
      RecordingPrompter p;
      p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
      store::ChangeOutcome outcome = CreateAssociation(failing, p, Fields(1));
      EXPECT_TRUE(failing.Injected());
      EXPECT_FALSE(outcome.reloadList);
      std::vector<Box> expected;
      for (std::string m : row.messages) {
        std::size_t at = m.find("P");  // only the rows with the program hold a capital P
        if (at != std::string::npos) m.replace(at, 1, program);
        expected.push_back(Box{m, 0});
      }
      EXPECT_EQ(p.boxes, expected);
      EXPECT_EQ(DumpClasses(*registry), before);
    }
  }
}

// Whatever single call fails, the store ends either fully written or exactly
// as before, and no box is shown while the registry is locked.
TEST_P(Writer, AnySingleFailingCallLeavesAllOrNothing) {
  FailingRegistry counting(*registry);
  CreateAssociation(counting, prompter, Fields());
  const std::uint64_t calls = counting.CallCount();
  const std::string written = DumpClasses(*registry);
  ASSERT_GT(calls, 15u);
  for (std::uint64_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE(n);
    const std::string folder = dir.Path() + "/" + std::to_string(n);
    std::filesystem::create_directories(folder);
    registry = GetParam().make(folder);
    FailingRegistry failing(*registry);
    failing.FailNth(n, ERROR_WRITE_FAULT);
    RecordingPrompter p;
    p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
    CreateAssociation(failing, p, Fields());
    const std::string after = DumpClasses(*registry);
    ASSERT_FALSE(p.boxes.empty());
    if (p.boxes.back().text == "Всё прошло успешно.")
      EXPECT_EQ(after, written);
    else
      EXPECT_EQ(after, "[]\n");
  }
}

ZANDREL_FOR_EACH_REGISTRY(Writer);

}  // namespace
}  // namespace zandrel::testing
