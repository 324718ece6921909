// The history of changes and their undo, one table: what each change left,
// what its undo puts back (byte for byte, value order included) or why it
// refuses, how far it tells it is as it goes, and what the history holds
// after. And the subtrees a change created, read back in one walk, whatever
// order it hands them over in.
#include <gtest/gtest.h>

#include <optional>

#include "bench/StoreShape.h"
#include "registry/Codes.h"
#include "registry/Defaults.h"
#include "registry/ForwardingRegistry.h"
#include "registry/Key.h"
#include "registry/RegistryScript.h"
#include "store/AssociationChanges.h"
#include "store/ChangeUndo.h"
#include "support/Backends.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

struct World {
  explicit World(capture::HistoryBound bound = {})
      : history(std::make_unique<capture::HistoryRegistry>(*registry, bound)) {}
  TempDir dir;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  std::unique_ptr<capture::HistoryRegistry> history;
  std::string program = dir.Write("prog.exe", "MZ");
  std::string snapshot;  // the classes as the undo is to leave them

  std::string Classes() { return DumpTree(*registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"); }
  std::string Own() { return DumpTree(*registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel"); }
  void Snap() { snapshot = Classes(); }
  // Adds e titled `title` ("T" + e by default), Yes to every question.
  void Add(const std::string& e, const std::string& title = "") {
    RecordingPrompter prompter{IDYES, IDYES};
    store::CreateAssociation(*history, prompter, {e, title.empty() ? "T" + e : title, program, 0});
  }
  // Removes e and its title, Yes to the question.
  void Remove(const std::string& e, const std::string& title) {
    RecordingPrompter prompter{IDYES};
    store::RemoveAssociation(*history, prompter, {e, title, 0});
  }
  void Undo(unsigned n) { store::UndoChange(*history, n); }
  void Redo() { store::UndoChange(*history, 0, {}, store::Newest::kUndo); }
  // Imports `sections` as `zandrel-reg import FILE` does.
  void Import(const std::string& file, const std::string& sections) {
    history->Describe("import", file);
    ASSERT_TRUE(IsOk(regfile::ImportRegText(*history, "Windows Registry Editor Version 5.00\r\n\r\n" + sections,
                                            file)));
  }
  void ImportStore(const bench::StoreSize& size) {
    history->Describe("import", "large.reg");
    ASSERT_TRUE(IsOk(regfile::ImportRegText(*history, bench::ToRegText(bench::GenerateStore(size)), "large.reg")));
  }
  // What the history holds, newest first: "number kind subject [undone by]; ".
  std::string Kept() {
    std::vector<capture::HistoryEntry> entries;
    EXPECT_EQ(capture::ReadHistory(*registry, &entries), ERROR_SUCCESS);
    std::string kept;
    for (const capture::HistoryEntry& e : entries)
      kept += std::to_string(e.number) + " " + e.kind + (e.subject.empty() ? "" : " " + e.subject) +
              (e.undoneBy ? " " + std::to_string(e.undoneBy) : "") + "; ";
    return kept;
  }
};

// An extension and its new title with a command.
const std::string kZqx =
    "[HKEY_CLASSES_ROOT\\.zqx]\r\n@=\"ZqShared\"\r\n\r\n[HKEY_CLASSES_ROOT\\ZqShared\\shell\\open\\command]\r\n@=\"p %1\"\r\n";

constexpr unsigned kRedo = ~0u;  // a row's undo: the newest undo not undone

struct Row {
  const char* name;
  capture::HistoryBound bound;
  std::function<void(World&)> change;  // calls Snap() where the undo is to go back to
  std::function<void(World&)> later;   // another change after it
  unsigned undo;                       // 0: the newest change neither undone nor an undo; or kRedo
  std::string message;
  std::string history;  // "number kind subject [undone by]", newest first
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

void Seed(World& w) {
  IRegistry& r = *w.registry;
  // Values out of name order, a subtree, binary data with a NUL in it.
  SeedValue(r, ".zq", "", REG_SZ, "Zq Title");
  SeedValue(r, "Zq Title", "b", REG_SZ, "second");
  SeedValue(r, "Zq Title", "a", REG_BINARY, std::string("\0\x01\xff", 3));
  SeedValue(r, "Zq Title", "", REG_SZ, "Zq");
  SeedValue(r, "Zq Title\\shell\\open\\command", "", REG_EXPAND_SZ, "p %1");
  SeedValue(r, "Zq Title\\DefaultIcon", "", REG_SZ, "p,1");
}

const bench::StoreSize kStore{"test", 30000, 5000};
const bench::StoreSize kWineStore{"test", 300, 50};  // every call is a trip to Wine's server

// clang-format off
const Row kRows[] = {
    {"Add", {}, [](World& w) { w.Snap(); w.Add(".zq"); }, nullptr, 0,
     "Изменение 1 (добавление .zq) отменено, ключей: 6. Отмена сохранена в истории как изменение 2.",
     "2 undo 1; 1 add .zq 2; "},
    {"RemovalOfSubtree", {}, [](World& w) { Seed(w); w.Snap(); w.Remove(".zq", "Zq Title"); }, nullptr, 1, "",
     "2 undo 1; 1 remove .zq 2; "},
    {"ImportOfTheLargeStore", {},
     [](World& w) { w.Snap(); w.ImportStore(Backends()[0].machine ? kWineStore : kStore); }, nullptr, 0, "",
     "2 undo 1; 1 import large.reg 2; "},
    {"AnUndo", {}, [](World& w) { w.Add(".zq"); w.Snap(); w.Undo(1); }, nullptr, 2, "",
     "3 undo 2; 2 undo 1 3; 1 add .zq; "},
    {"UndosWalkBack", {},
     [](World& w) { w.Snap(); for (const char* e : {".a", ".b", ".c"}) w.Add(e); w.Undo(0); w.Undo(0); }, nullptr, 0,
     "Изменение 1 (добавление .a) отменено, ключей: 6. Отмена сохранена в истории как изменение 6.",
     "6 undo 1; 5 undo 2; 4 undo 3; 3 add .c 4; 2 add .b 5; 1 add .a 6; "},
    {"RedoAfterTwoUndos", {}, [](World& w) { w.Add(".a"); w.Snap(); w.Add(".b"); w.Undo(0); w.Undo(0); }, nullptr,
     kRedo,
     "Изменение 4 (отмена изменения 1) отменено, ключей: 6. Отмена сохранена в истории как изменение 5.",
     "5 undo 4; 4 undo 1 5; 3 undo 2; 2 add .b 3; 1 add .a; "},
    {"RedoOfARedoIsNot", {}, [](World& w) { w.Add(".a"); w.Undo(0); w.Redo(); w.Snap(); }, nullptr, kRedo,
     "Нет отменённых изменений, которые можно вернуть.", "3 undo 2; 2 undo 1 3; 1 add .a; "},
    {"AnUndoOfARedo", {}, [](World& w) { w.Add(".zq"); w.Undo(1); w.Snap(); w.Redo(); }, nullptr, 3, "",
     "4 undo 3; 3 undo 2 4; 2 undo 1; 1 add .zq 2; "},
    {"AnUndoDownAChainOfUndos", {}, [](World& w) { w.Add(".zq"); w.Snap(); w.Undo(1); w.Redo(); w.Undo(3); }, nullptr,
     4, "", "5 undo 4; 4 undo 3 5; 3 undo 2; 2 undo 1 3; 1 add .zq; "},
    {"AnImportsUndo", {}, [](World& w) { w.ImportStore(kWineStore); w.Snap(); w.Undo(1); }, nullptr, kRedo, "",
     "3 undo 2; 2 undo 1 3; 1 import large.reg; "},
    {"WritesIntoASubtreeItDeleted", {}, [](World& w) {
       // A change that deletes subtrees whole and then writes into one of them.
       w.Add(".zq");
       w.Snap();
       capture::ChangeRecord added;
       ASSERT_EQ(capture::ReadChangeRecord(*w.registry, 1, &added), ERROR_SUCCESS);
       std::vector<capture::RecordEntry*> created;
       for (capture::RecordEntry& entry : added.entries)
         if (entry.kind == capture::RecordEntry::Kind::kCreated) created.push_back(&entry);
       RegistryTransaction transaction(*w.history);
       ASSERT_EQ(w.history->DeleteCreated(created), ERROR_SUCCESS);
       SeedValue(*w.history, "T.zq\\shell\\open", "x", REG_SZ, "y");
       ASSERT_EQ(transaction.Commit(), ERROR_SUCCESS);
     }, nullptr, 0, "", "3 undo 2; 2 remove .zq 3; 1 add .zq; "},
    {"RefusedAfterALaterChange", {}, [](World& w) { w.Add(".zq"); },
     [](World& w) { SeedValue(*w.registry, "T.zq\\shell\\open\\command", "", REG_SZ, "other %1"); w.Snap(); }, 0,
     "Изменение 1 не отменено: ключ HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\T.zq\\shell\\open\\command изменён после "
     "него. Ничего не изменено.", "1 add .zq; "},
    // A later change reused the title the add made, writing its command as it was.
    {"RefusedWhileALaterChangeReliesOnIt", {}, [](World& w) { w.Add(".zqx", "ZqShared"); },
     [](World& w) { w.Add(".zqy", "ZqShared"); w.Snap(); }, 1,
     "Изменение 1 не отменено: ключ HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\ZqShared используется изменением 2. "
     "Ничего не изменено. Сначала отмените изменение 2.", "2 add .zqy; 1 add .zqx; "},
    // An extension the undo leaves names the title it would delete: written by a later change still standing,
    // or from elsewhere; in any letter case, and a redo as well.
    {"RefusedWhileALaterImportNamesTheTitle", {}, [](World& w) {
       // Titles enough to be looked up in one pass over the extensions.
       std::string titles;
       for (char n = '1'; n <= '5'; ++n) titles += "\r\n[HKEY_CLASSES_ROOT\\Zq" + std::string(1, n) + "]\r\n@=\"z\"\r\n";
       w.Import("zqx.reg", kZqx + titles);
     }, [](World& w) { w.Import("zqy-only.reg", "[HKEY_CLASSES_ROOT\\.ZQY]\r\n@=\"zqshared\"\r\n"); w.Snap(); }, 1,
     "Изменение 1 не отменено: ключ HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\ZqShared используется изменением 2. "
     "Ничего не изменено. Сначала отмените изменение 2.", "2 import zqy-only.reg; 1 import zqx.reg; "},
    {"RefusedWhileAnExtensionFromElsewhereNamesTheTitle", {}, [](World& w) { w.Add(".zqx", "ZqShared"); },
     [](World& w) { SeedValue(*w.registry, ".ZQY", "", REG_SZ, std::string("zqshared\0", 9)); w.Snap(); }, 1,
     "Изменение 1 не отменено: описание ZqShared используется расширением .ZQY. Ничего не изменено.", "1 add .zqx; "},
    {"RedoRefusedWhileALaterImportNamesTheTitle", {},
     [](World& w) { Seed(w); w.Remove(".zq", "Zq Title"); w.Undo(1); },
     [](World& w) { w.Import("zqy.reg", "[HKEY_CLASSES_ROOT\\.zqy]\r\n@=\"ZQ TITLE\"\r\n"); w.Snap(); }, kRedo,
     "Изменение 2 не отменено: ключ HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Zq Title используется изменением 3. "
     "Ничего не изменено. Сначала отмените изменение 3.", "3 import zqy.reg; 2 undo 1; 1 remove .zq 2; "},
    {"RefusedWhileAnExtensionNamesATitleWhoseCommandItDeletes", {}, [](World& w) {
       w.Import("title.reg", "[HKEY_CLASSES_ROOT\\ZqShared]\r\n@=\"Zq files\"\r\n");
       w.Import("command.reg", "[HKEY_CLASSES_ROOT\\ZqShared\\Shell\\Open\\Command]\r\n@=\"zq %1\"\r\n");
     }, [](World& w) { SeedValue(*w.registry, ".zqy", "", REG_SZ, "ZqShared"); w.Snap(); }, 2,
     "Изменение 2 не отменено: описание ZqShared используется расширением .zqy. Ничего не изменено.",
     "2 import command.reg; 1 import title.reg; "},
    // Allowed: the undo deletes each extension naming the title too, or the one left names another title since.
    {"AllowedWithTheExtensionsNamingTheTitle", {},
     [](World& w) { w.Snap(); w.Import("zqxw.reg", kZqx + "\r\n[HKEY_CLASSES_ROOT\\.ZQW]\r\n@=\"zqshared\"\r\n"); },
     nullptr, 0, "Изменение 1 (импорт zqxw.reg) отменено, ключей: 6. Отмена сохранена в истории как изменение 2.",
     "2 undo 1; 1 import zqxw.reg 2; "},
    {"AllowedWhenTheExtensionNamesAnotherTitleSince", {},
     [](World& w) { SeedValue(*w.registry, ".zqy", "", REG_SZ, "Other"); w.Snap(); w.Add(".zqx", "ZqShared"); },
     [](World& w) {
       w.Import("zqy-only.reg", "[HKEY_CLASSES_ROOT\\.zqy]\r\n@=\"ZqShared\"\r\n");
       w.Import("zqy-other.reg", "[HKEY_CLASSES_ROOT\\.zqy]\r\n@=\"Other\"\r\n");
     }, 1, "Изменение 1 (добавление .zqx) отменено, ключей: 6. Отмена сохранена в истории как изменение 4.",
     "4 undo 1; 3 import zqy-other.reg; 2 import zqy-only.reg; 1 add .zqx 4; "},
    {"NothingToUndo", {}, [](World& w) { w.Snap(); }, nullptr, 0, "Нет изменений, которые можно отменить.", ""},
    {"AlreadyUndone", {}, [](World& w) { w.Add(".zq"); w.Undo(1); w.Snap(); }, nullptr, 1,
     "Изменение 1 уже отменено изменением 2.", "2 undo 1; 1 add .zq 2; "},
    {"BoundOfChanges", {3, 1 << 20},
     [](World& w) { for (const char* e : {".a", ".b", ".c", ".d"}) w.Add(e); w.Snap(); }, nullptr, 1,
     "Изменения 1 нет в истории.", "4 add .d; 3 add .c; 2 add .b; "},
    {"BoundOfBytes", {100, 1}, [](World& w) { w.Add(".a"); w.Add(".b"); w.Snap(); }, nullptr, 1,
     "Изменения 1 нет в истории.", "2 add .b; "},
};
// clang-format on

class History : public ::testing::TestWithParam<Row> {};

TEST_P(History, UndoPutsBackOrRefuses) {
  const Row& row = GetParam();
  World w(row.bound);
  row.change(w);
  if (row.later) row.later(w);
  std::vector<std::pair<std::size_t, std::size_t>> told;  // done, total
  const store::UndoOutcome outcome = store::UndoChange(
      *w.history, row.undo == kRedo ? 0 : row.undo,
      [&told](std::size_t done, std::size_t total) { told.emplace_back(done, total); },
      row.undo == kRedo ? store::Newest::kUndo : store::Newest::kChange);
  // The progress goes up to the keys undone, and tells of none put back by a refusal.
  for (std::size_t i = 0; i < told.size(); ++i) {
    EXPECT_EQ(told[i].second, told.front().second) << i;
    EXPECT_LE(told[i].first, told[i].second) << i;
    EXPECT_GE(told[i].first, i > 0 ? told[i - 1].first : 0) << i;
  }
  if (outcome.result == store::UndoOutcome::Result::kUndone) {
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back(), std::make_pair(outcome.keys, outcome.keys));
  } else {
    EXPECT_TRUE(told.empty() || told.back().first == 0) << told.back().first;
  }
  if (!row.message.empty()) {
    EXPECT_EQ(store::UndoMessage(outcome), row.message);
  }
  EXPECT_TRUE(w.Classes() == w.snapshot) << "the classes differ from what the undo was to leave";
  EXPECT_EQ(w.Kept(), row.history);
}

INSTANTIATE_TEST_SUITE_P(Rows, History, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Hands the start's children over in reverse order, each walked through
// the calls: a walk in an order other than the hive's.
LONG ReversedWalk(IRegistry& registry, HKEY key, registry::SubtreeVisitor& visitor) {
  struct Below : registry::SubtreeVisitor {
    registry::SubtreeVisitor* inner;
    std::string_view name;
    void Key(std::size_t depth, std::string_view key) override { inner->Key(depth + 1, depth == 0 ? name : key); }
    void Value(std::string_view n, DWORD type, std::string_view data) override { inner->Value(n, type, data); }
  } below;
  below.inner = &visitor;
  std::vector<registry::Value> values;
  std::vector<std::string> children;
  if (LONG code = registry::ReadValues(registry, key, &values); code != ERROR_SUCCESS) return code;
  if (LONG code = registry::ReadSubKeys(registry, key, &children); code != ERROR_SUCCESS) return code;
  visitor.Key(0, "");
  for (const registry::Value& v : values) visitor.Value(v.name, v.type, v.data);
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    registry::Key sub(registry);
    if (LONG code = sub.Open(key, *child); code != ERROR_SUCCESS) return code;
    below.name = *child;
    if (LONG code = registry::WalkThroughCalls(registry, sub.Handle(), below); code != ERROR_SUCCESS) return code;
  }
  return ERROR_SUCCESS;
}

TEST(History, SubtreesReadInOneWalkInAnyOrderAreThoseTheCallsRead) {
  TempDir dir;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  std::vector<std::string> paths;
  for (int i = 0; i < 20; ++i) {  // enough to be read in one walk, in mixed case
    const std::string name = std::string(i % 2 ? "Zq" : "zQ") + char('a' + i) + "\\Sub" + char('A' + i);
    ASSERT_EQ(SeedValue(*registry, name, "v", REG_SZ, std::string(1, char('0' + i % 10)) + '\0'), 0);
    paths.push_back("SOFTWARE\\Classes\\" + name.substr(0, 3));
  }
  paths.push_back("SOFTWARE\\Classes\\missing");
  const auto read = [&](IRegistry& through) {
    std::vector<capture::RecordedTree> trees(paths.size());
    std::vector<capture::SubtreeRead> reads;
    for (std::size_t i = 0; i < paths.size(); ++i) reads.push_back({HKEY_LOCAL_MACHINE, &paths[i], &trees[i]});
    EXPECT_EQ(capture::ReadSubtrees(through, reads), ERROR_SUCCESS);
    std::string all;
    for (const capture::RecordedTree& tree : trees) all += std::to_string(tree.Keys()) + ":" + Hex(tree.Bytes()) + "\n";
    return all;
  };
  CallsOnly calls(*registry);
  const std::string by_calls = read(calls);
  EXPECT_NE(by_calls.find("\n2:"), std::string::npos);
  EXPECT_EQ(by_calls.substr(by_calls.size() - 3), "0:\n");
  // A walk of the whole parent, in another order.
  struct Reversed : ForwardingRegistry {
    using ForwardingRegistry::ForwardingRegistry;
    LONG WalkSubtree(HKEY key, registry::SubtreeVisitor& v) override { return ReversedWalk(Target(), key, v); }
    bool WalkReadsWholeFirst() override { return true; }
  } reversed(*registry);
  EXPECT_EQ(read(reversed), by_calls);
  EXPECT_EQ(read(*registry), by_calls);
}

// The history is the program's own: no change through the history's registry
// may create, write or delete a key of it, or delete a key above it. A file's
// lines that would are left out, each section with its values, and named, by
// the history's ApplyChanges, which checks the file first (the calls alone
// are OwnHistory.EveryWayInIsRefused's);
// the rest imports and is kept, and the history stays as it was.
struct OwnRow {
  const char* name;
  std::string lines;  // after the header and an empty line: line 3 on
  std::string left;   // the lines left out: "3 6"
  bool imports;       // whether anything else imports
};

void PrintTo(const OwnRow& row, std::ostream* out) { *out << row.name; }

// clang-format off
const OwnRow kOwnRows[] = {
    {"DeletesTheProgramsKey", "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel]\r\n", "3", false},
    {"DeletesTheHistory", "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\History]\r\n", "3", false},
    {"DeletesSoftware", "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", "3", false},
    {"DeletesTheProgramsKeyInOtherCaseWithEmptyParts", "[-hkey_local_machine\\software\\\\zANDREL\\]\r\n", "3", false},
    {"DeletesAChange", "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\ZANDREL\\HISTORY\\0000000001]\r\n", "3", false},
    // An export of HKEY_LOCAL_MACHINE taken earlier would rewind the numbering.
    {"RewindsTheNextNumber",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\History]\r\n\"Next\"=dword:00000001\r\n\r\n"
     "[HKEY_CLASSES_ROOT\\.zzn]\r\n@=\"n\"\r\n",
     "3", true},
    {"DeletesAValueOfAChange", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\History\\0000000001]\r\n\"Record\"=-\r\n", "3",
     false},
    {"CreatesAKeyBelowIt", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\History\\0000000009]\r\n@=\"x\"\r\n", "3", false},
    {"AroundOrdinaryLines",
     "[HKEY_CLASSES_ROOT\\.zzn]\r\n@=\"n\"\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel]\r\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\History\\0000000001]\r\n@=\"x\"\r\n[HKEY_CLASSES_ROOT\\.zzo]\r\n",
     "6 7", true},
    {"Ordinary", "[HKEY_CLASSES_ROOT\\.zzn]\r\n@=\"n\"\r\n\r\n[-HKEY_CLASSES_ROOT\\.zq]\r\n", "", true},
    // The classes' own keys named like it.
    {"InTheClasses", "[HKEY_CLASSES_ROOT\\SOFTWARE\\Zandrel\\History]\r\n@=\"x\"\r\n\r\n[-HKEY_CLASSES_ROOT\\SOFTWARE\\Zandrel]\r\n",
     "", true},
    // Beside the history.
    {"BesideIt",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel]\r\n\"Own\"=\"x\"\r\n\r\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\HistoryOld]\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\HistoryOld]\r\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandrel\\Историй]\r\n",
     "", true},
};
// clang-format on

class OwnHistoryImport : public ::testing::TestWithParam<OwnRow> {};

TEST_P(OwnHistoryImport, ItsLinesAreLeftOutAndNamed) {
  const OwnRow& row = GetParam();
  World w;
  Seed(w);
  ASSERT_EQ(SeedValue(*w.registry, "SOFTWARE\\Zandrel\\Журнал", "", REG_SZ, "j", HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  w.Add(".zn");
  const std::string history = DumpTree(*w.registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\History");
  const std::string classes = w.Classes();
  w.history->Describe("import", "own.reg");
  std::vector<std::string> notes;
  w.history->NoteLeftOut(&notes, "own.reg");
  const status::Status imported =
      regfile::ImportRegText(*w.history, "Windows Registry Editor Version 5.00\r\n\r\n" + row.lines, "own.reg", &notes);
  ASSERT_TRUE(IsOk(imported));
  std::string left;
  for (const std::string& note : notes) {
    const std::size_t line = note.find("line ") + 5, colon = note.find(':');
    left += (left.empty() ? "" : " ") + note.substr(line, colon - line);
    EXPECT_EQ(note.substr(colon), ": the program's own history, which no change may touch: not imported");
  }
  EXPECT_EQ(left, row.left);
  // The numbering goes on past what the file would have rewound.
  EXPECT_EQ(w.Kept(), row.imports ? "2 import own.reg; 1 add .zn; " : "1 add .zn; ");
  if (!row.imports) {
    EXPECT_EQ(DumpTree(*w.registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\History"), history);
    EXPECT_TRUE(w.Classes() == classes) << "the classes changed";
    return;
  }
  const std::string undone = store::UndoMessage(store::UndoChange(*w.history, 0));
  EXPECT_TRUE(undone.starts_with("Изменение 2 (импорт own.reg) отменено")) << undone;
  EXPECT_TRUE(w.Classes() == classes) << "the undo did not put the classes back";
}

INSTANTIATE_TEST_SUITE_P(Rows, OwnHistoryImport, ::testing::ValuesIn(kOwnRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The calls a change makes, and the bulk writes of an import and an undo,
// refused at the history with nothing written; its own commit still writes
// there.
TEST(OwnHistory, EveryWayInIsRefused) {
  World w;
  w.Add(".zn");
  const std::string own = w.Own();
  // The calls, inside a change and outside one.
  RunScript(*w.history, Replace(R"(begin -> 0; open HKLM "SOFTWARE\\Zandrel" read -> 0 as h1;
      open h1 History all -> 0 as h2; set h2 Next dword "\x01\0\0\0" -> OWN; close h2 -> 0; close h1 -> 0;
      open HKLM "SOFTWARE\\Zandrel\\History\\0000000001" all -> 0 as h3; delval h3 Record -> OWN; close h3 -> 0;
      delkey HKLM "SOFTWARE\\Zandrel\\History\\0000000001" -> OWN; delkey HKLM "SOFTWARE\\Zandrel" -> OWN; rollback;
      delkey HKLM "SOFTWARE\\Zandrel\\History\\0000000001" -> OWN)",
                                "OWN", std::to_string(registry::kProgramsOwnKey)));
  capture::RecordEntry programs{
      capture::RecordEntry::Kind::kCreated, HKEY_LOCAL_MACHINE, "Software\\ZANDREL", {}, {}, {}};
  // clang-format off
  const struct {
    const char* name;
    std::function<LONG(capture::HistoryRegistry&)> write;
  } rows[] = {
      {"create below", [](capture::HistoryRegistry& h) { return SeedKey(h, "SOFTWARE\\Zandrel\\History\\x", HKEY_LOCAL_MACHINE); }},
      {"create it, in other case", [](capture::HistoryRegistry& h) {
         return SeedKey(h, "software\\\\zandrel\\HISTORY", HKEY_LOCAL_MACHINE);
       }},
      {"delete the program's key through the calls", [](capture::HistoryRegistry& h) {
         return registry::DeleteKeyTree(h, HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel");
       }},
      {"touch a key below it", [](capture::HistoryRegistry& h) {
         return h.Touch(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\History\\x");
       }},
      {"touch a key below it after its parents missing", [](capture::HistoryRegistry& h) {
         // The notes' shortcut for keys below one noted missing does not pass it.
         LONG code = h.Touch(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\Sub");
         if (code == ERROR_SUCCESS) code = h.Touch(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\Sub\\x");
         return code == ERROR_SUCCESS ? h.Touch(HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel\\History\\y") : code;
       }},
      {"touch a subtree above it", [](capture::HistoryRegistry& h) {
         return h.Touch(HKEY_LOCAL_MACHINE, "SOFTWARE", true);
       }},
      {"delete trees above it", [&programs](capture::HistoryRegistry& h) { return h.DeleteCreated({&programs}); }},
      {"delete trees of a parent, spelt loosely", [](capture::HistoryRegistry& h) {
         return h.DeleteTrees({{HKEY_LOCAL_MACHINE, "software\\\\zandrel\\"}, {HKEY_LOCAL_MACHINE, ""}}, {}); }},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RegistryTransaction transaction(*w.history);
    EXPECT_EQ(row.write(*w.history), registry::kProgramsOwnKey);
  }
  EXPECT_EQ(w.Own(), own);
  w.Add(".zo");
  EXPECT_EQ(w.Kept(), "2 add .zo; 1 add .zn; ");
}

}  // namespace
}  // namespace zandrel::testing
