#include "store/AssociationChanges.h"
#include "store/StoreFixture.h"

namespace zandrel::testing {
namespace {

using Box = RecordingPrompter::Box;
using store::RemovalFields;
using store::RemoveAssociation;

const std::string kKeepTitle = "Хотите удалить расширенние, а описание оставить?";
const std::string kBoth = "Хотите удалить расширенние и описание?";

class Remover : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    SeedValue(*registry, HKEY_CLASSES_ROOT, ".other", "", REG_SZ, "Other");
    empty = DumpClasses(*registry);
    SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
    SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
    full = DumpClasses(*registry);
  }
  static RemovalFields Fields(const std::string& e, const std::string& d, int update = 0) {
    return RemovalFields{e, d, update};
  }
  std::string empty;  // the store without the association
  std::string full;   // with it
};

// The description is matched to E's title as the registry matches names, and
// reading plus deleting is all the removal asks rights for.
TEST_P(Remover, ExtensionAndDescriptionRemovedWithAllSubkeys) {
  prompter.AnswerNext(6);
  FailingRegistry readAndDelete(*registry);
  readAndDelete.RefuseOpenRights(KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK);
  store::ChangeOutcome outcome = RemoveAssociation(readAndDelete, prompter, Fields(" zq ", " ZQ title "));
  EXPECT_FALSE(outcome.reloadList);
  EXPECT_TRUE(outcome.notifyShell);
  EXPECT_EQ(prompter.boxes, (std::vector<Box>{{"Удаляется расширенние .zq\r\n" + kBoth, 0x24},
                                              {"Ассоциация удаленна из реестра .zq", 0}}));
  EXPECT_EQ(DumpClasses(*registry), empty);
}

TEST_P(Remover, EmptyDescriptionRemovesOnlyTheExtension) {
  prompter.AnswerNext(6);
  RemoveAssociation(*registry, prompter, Fields("zq", "   "));
  EXPECT_EQ(prompter.boxes[0], (Box{"Удаляется расширенние .zq\r\n" + kKeepTitle, 0x24}));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".zq"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Zq Title\\shell\\open\\command"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "Zq Title\\DefaultIcon"));
}

TEST_P(Remover, TickedUpdateGivesTheLongMessageAndAsksForAReload) {
  prompter.AnswerNext(6);
  store::ChangeOutcome outcome = RemoveAssociation(*registry, prompter, Fields(".zq", "", 1));
  EXPECT_TRUE(outcome.reloadList);
  EXPECT_TRUE(outcome.notifyShell);
  ASSERT_EQ(prompter.boxes.size(), 2u);
  EXPECT_EQ(prompter.boxes[1],
            (Box{"Из реестра удаленно расширенние .zq\r\n\r\n"
                 "Что увидеть результат в списке нажмите кнопку показать.\r\n\r\n"
                 "Если у вас стоит галочка в Показать изменнения , то измения\r\n\r\n"
                 "будут вам показываться сразу после того как вы нажмёте \r\n\r\n"
                 "кнопку Ок. Если вам это не нужно, не забывайте уберать галочку.",
                 0}));
}

TEST_P(Remover, DescriptionThatIsNotTheExtensionsTitleDeletesNothing) {
  SeedValue(*registry, HKEY_CLASSES_ROOT, "CLSID\\{00021401-0000-0000-C000-000000000046}\\InprocServer32", "",
            REG_SZ, "shell32.dll");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Zq", "", REG_SZ, "{0}");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Other\\shell\\open\\command", "", REG_SZ, "o %1");
  SeedKey(*registry, HKEY_CLASSES_ROOT, ".untitled");
  const std::string before = DumpClasses(*registry);
  const std::pair<std::string, std::string> rows[] = {
      {".zq", "CLSID"}, {".zq", "*"}, {".zq", "Other"}, {".untitled", "Zq Title"}};
  for (const auto& [e, d] : rows) {
    SCOPED_TRACE(e + " " + d);
    RecordingPrompter p;
    p.AnswerNext(6);
    store::ChangeOutcome outcome = RemoveAssociation(*registry, p, Fields(e, d));
    EXPECT_FALSE(outcome.notifyShell);
    EXPECT_EQ(p.boxes, (std::vector<Box>{{"Удаляется расширенние " + e + "\r\n" + kBoth, 0x24},
                                         {"Описание " + d + " не принадлежит расширению " + e +
                                              ". Ничего не удалено.", 0}}));
    EXPECT_EQ(DumpClasses(*registry), before);
  }
}

TEST_P(Remover, CyrillicTitleMatchesInAnotherCase) {
  SeedAssociation(*registry, ".ёж", "Ёжик Файл", "p %1");
  prompter.AnswerNext(6);
  RemoveAssociation(*registry, prompter, Fields("ёж", "ЁЖИК файл"));
  EXPECT_EQ(prompter.boxes.back().text, "Ассоциация удаленна из реестра .ёж");
  EXPECT_EQ(DumpClasses(*registry), full);
}

struct StopRow {
  const char* name;
  RemovalFields fields;
  int answer;
  std::vector<Box> boxes;
};

TEST_P(Remover, StopsBeforeDeletingAnything) {
  const StopRow rows[] = {
      {"empty extension", Fields("  ", "Zq Title"), 6, {{"Введите имя расширенния", 0}}},
      {"only dot", Fields(".", "Zq Title"), 6, {{"Введите имя расширенния", 0}}},
      {"answer no", Fields("zq", "Zq Title"), 7, {{"Удаляется расширенние .zq\r\n" + kBoth, 0x24}}},
      {"answer ok", Fields("zq", "Zq Title"), 1, {{"Удаляется расширенние .zq\r\n" + kBoth, 0x24}}},
      {"separator in extension", Fields("a\\b", ""), 6, {{"Расширение не может содержать знак \\: .a\\b", 0}}},
      {"separator in description", Fields("zq", "Zq Title\\shell"), 6,
       {{"Описание не может содержать знак \\: Zq Title\\shell", 0}}},
      {"no extension key", Fields("nope", "Zq Title"), 6,
       {{"Удаляется расширенние .nope\r\n" + kBoth, 0x24},
        {"Unable to open subkey .nope.  Pleaser re-check your entry", 0}}},
      {"no title key", Fields("zq", "No Such Title"), 6,
       {{"Удаляется расширенние .zq\r\n" + kBoth, 0x24},
        {"Не удалось открыть subkey No Such Title.  Please re-check your entry", 0}}},
  };
  for (const StopRow& row : rows) {
    SCOPED_TRACE(row.name);
    FailingRegistry failing(*registry);
    RecordingPrompter p;
    p.AnswerNext(row.answer);
    store::ChangeOutcome outcome = RemoveAssociation(failing, p, row.fields);
    EXPECT_FALSE(outcome.notifyShell);
    EXPECT_FALSE(outcome.reloadList);
    EXPECT_EQ(p.boxes, row.boxes);
    EXPECT_EQ(failing.CallCount(RegOp::Begin | RegOp::DeleteKey), 0u);
    EXPECT_EQ(DumpClasses(*registry), full);
  }
}

struct FailureRow {
  const char* step;
  std::uint32_t ops;
  std::uint64_t nth;
  std::vector<std::string> before;  // messages before the failure message
};

// A removal that fails at any point deletes nothing, shows the messages in
// order after the rollback, and still tells the shell.
TEST_P(Remover, FailedDeletionRestoresEverythingAndStillNotifies) {
  // Opens: check E, check D, then E's title, DeleteKey(E): EnumSubKeys, tree; DeleteKey(D): ...
  const FailureRow rows[] = {
      {"begin", Ops(RegOp::Begin), 1, {}},
      {"delete E", Ops(RegOp::DeleteKey), 1, {}},
      {"read E's title", Ops(RegOp::Open), 3, {}},
      {"EnumSubKeys of E", Ops(RegOp::Open), 4, {"Unable to open .zq"}},
      {"delete DefaultIcon", Ops(RegOp::DeleteKey), 2, {}},
      {"delete command", Ops(RegOp::DeleteKey), 3, {}},
      {"delete shell", Ops(RegOp::DeleteKey), 5, {}},
      {"delete D", Ops(RegOp::DeleteKey), 6, {}},
      {"EnumSubKeys of D", Ops(RegOp::Open), 6, {"Unable to open Zq Title"}},
      {"commit", Ops(RegOp::Commit), 1, {}},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.step);
    FailingRegistry failing(*registry);
    failing.FailNth(row.nth, ERROR_ACCESS_DENIED, row.ops);
    RecordingPrompter p;
    p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
    p.AnswerNext(6);
    store::ChangeOutcome outcome = RemoveAssociation(failing, p, Fields("zq", "Zq Title", 1));
    EXPECT_TRUE(failing.Injected());
    EXPECT_TRUE(outcome.notifyShell);
    EXPECT_FALSE(outcome.reloadList);
    std::vector<Box> expected{{"Удаляется расширенние .zq\r\n" + kBoth, 0x24}};
    for (const std::string& m : row.before) expected.push_back(Box{m, 0});
    expected.push_back(Box{"Не удалось удалить ассоциацию из реестра .zq", 0});
    EXPECT_EQ(p.boxes, expected);
    EXPECT_EQ(DumpClasses(*registry), full);
  }
}

TEST_P(Remover, AnySingleFailingCallLeavesAllOrNothing) {
  FailingRegistry counting(*registry);
  prompter.AnswerNext(6);
  RemoveAssociation(counting, prompter, Fields("zq", "Zq Title"));
  const std::uint64_t calls = counting.CallCount();
  SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
  SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
  ASSERT_EQ(DumpClasses(*registry), full);
  for (std::uint64_t n = 1; n <= calls; ++n) {
    SCOPED_TRACE(n);
    FailingRegistry failing(*registry);
    failing.FailNth(n, ERROR_WRITE_FAULT);
    RecordingPrompter p;
    p.AnswerNext(6);
    p.onShow = [&](const Box&) { EXPECT_FALSE(failing.InTransaction()); };
    RemoveAssociation(failing, p, Fields("zq", "Zq Title"));
    const std::string after = DumpClasses(*registry);
    ASSERT_GE(p.boxes.size(), 2u);
    if (p.boxes.back().text == "Ассоциация удаленна из реестра .zq") {
      EXPECT_EQ(after, empty);
      SeedAssociation(*registry, ".zq", "Zq Title", "p %1");
      SeedValue(*registry, HKEY_CLASSES_ROOT, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
    } else {
      EXPECT_EQ(after, full);
    }
  }
}

ZANDREL_FOR_EACH_REGISTRY(Remover);

}  // namespace
}  // namespace zandrel::testing
