// The history of changes and their undo, one table: what each change left,
// what its undo puts back (byte for byte, value order included) or why it
// refuses, how far it tells it is as it goes, and what the history holds
// after. And the subtrees a change created, read back in one walk, whatever
// order it hands them over in.
#include <gtest/gtest.h>

#include "bench/StoreShape.h"
#include "store/AssociationChanges.h"
#include "store/ChangeUndo.h"
#include "support/Backends.h"
#include "support/StatusCheck.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

struct World {
  TempDir dir;
  std::unique_ptr<IRegistry> registry = MakeRegistry(dir.Path());
  std::unique_ptr<store::HistoryRegistry> history;
  std::string program = dir.Write("prog.exe", "MZ");
  std::string snapshot;  // the classes as the undo is to leave them

  std::string Classes() { return DumpTree(*registry, HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"); }
  void Snap() { snapshot = Classes(); }
  void Add(const std::string& e) {
    RecordingPrompter prompter;
    store::CreateAssociation(*history, prompter, {e, "T" + e, program, 0});
  }
  void Undo(unsigned n) { store::UndoChange(*history, n); }
};

struct Row {
  const char* name;
  store::HistoryBound bound;
  std::function<void(World&)> change;  // calls Snap() where the undo is to go back to
  std::function<void(World&)> later;   // another change after it
  unsigned undo;                       // 0: the newest not undone
  std::string message;
  std::string history;                 // "number kind subject [undone by]", newest first
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

const Row kRows[] = {
    {"Add", {}, [](World& w) { w.Snap(); w.Add(".zq"); }, nullptr, 0,
     "Изменение 1 (добавление .zq) отменено, ключей: 6. Отмена сохранена в истории как изменение 2.",
     "2 undo 1; 1 add .zq 2; "},
    {"RemovalOfSubtree", {}, [](World& w) {
       Seed(w);
       w.Snap();
       RecordingPrompter prompter;
       prompter.AnswerNext(IDYES);
       store::RemoveAssociation(*w.history, prompter, {".zq", "Zq Title", 0});
     }, nullptr, 1, "", "2 undo 1; 1 remove .zq 2; "},
    {"ImportOfTheLargeStore", {}, [](World& w) {
       w.Snap();
       const bool wine = Backends()[0].machine;
       w.history->Describe("import", "large.reg");
       ASSERT_TRUE(IsOk(regfile::ImportRegText(
           *w.history, bench::ToRegText(bench::GenerateStore(wine ? kWineStore : kStore)), "large.reg")));
     }, nullptr, 0, "", "2 undo 1; 1 import large.reg 2; "},
    {"AnUndo", {}, [](World& w) { w.Add(".zq"); w.Snap(); w.Undo(1); }, nullptr, 0, "",
     "3 undo 2; 2 undo 1 3; 1 add .zq; "},
    {"AnImportsUndo", {}, [](World& w) {
       w.history->Describe("import", "large.reg");
       ASSERT_TRUE(IsOk(regfile::ImportRegText(*w.history, bench::ToRegText(bench::GenerateStore(kWineStore)), "large.reg")));
       w.Snap();
       w.Undo(1);
     }, nullptr, 0, "", "3 undo 2; 2 undo 1 3; 1 import large.reg; "},
    {"WritesIntoASubtreeItDeleted", {}, [](World& w) {
       // A change that deletes subtrees whole and then writes into one of them.
       w.Add(".zq");
       w.Snap();
       store::ChangeRecord added;
       ASSERT_EQ(store::ReadChangeRecord(*w.registry, 1, &added), ERROR_SUCCESS);
       std::vector<store::RecordEntry*> created;
       for (store::RecordEntry& entry : added.entries) created.push_back(&entry);
       RegistryTransaction transaction(*w.history);
       ASSERT_EQ(w.history->DeleteTrees(created), ERROR_SUCCESS);
       SeedValue(*w.history, "T.zq\\shell\\open", "x", REG_SZ, "y");
       ASSERT_EQ(transaction.Commit(), ERROR_SUCCESS);
     }, nullptr, 0, "", "3 undo 2; 2 remove .zq 3; 1 add .zq; "},
    {"RefusedAfterALaterChange", {}, [](World& w) { w.Add(".zq"); }, [](World& w) {
       SeedValue(*w.registry, "T.zq\\shell\\open\\command", "", REG_SZ, "other %1");
       w.Snap();
     }, 0,
     "Изменение 1 не отменено: ключ HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\T.zq\\shell\\open\\command изменён после "
     "него. Ничего не изменено.", "1 add .zq; "},
    {"NothingToUndo", {}, [](World& w) { w.Snap(); }, nullptr, 0, "Нет изменений, которые можно отменить.", ""},
    {"AlreadyUndone", {}, [](World& w) { w.Add(".zq"); w.Undo(1); w.Snap(); }, nullptr, 1,
     "Изменение 1 уже отменено изменением 2.", "2 undo 1; 1 add .zq 2; "},
    {"BoundOfChanges", {3, 1 << 20}, [](World& w) {
       for (const char* e : {".a", ".b", ".c", ".d"}) w.Add(e);
       w.Snap();
     }, nullptr, 1, "Изменения 1 нет в истории.", "4 add .d; 3 add .c; 2 add .b; "},
    {"BoundOfBytes", {100, 1}, [](World& w) { w.Add(".a"); w.Add(".b"); w.Snap(); }, nullptr, 1,
     "Изменения 1 нет в истории.", "2 add .b; "},
};

class History : public ::testing::TestWithParam<Row> {};

TEST_P(History, UndoPutsBackOrRefuses) {
  const Row& row = GetParam();
  World w;
  w.history = std::make_unique<store::HistoryRegistry>(*w.registry, FastPathsOf(*w.registry), row.bound);
  row.change(w);
  if (row.later) row.later(w);
  std::vector<std::pair<std::size_t, std::size_t>> told;  // done, total
  const store::UndoOutcome outcome = store::UndoChange(
      *w.history, row.undo, [&told](std::size_t done, std::size_t total) { told.emplace_back(done, total); });
  // The progress goes up to the keys undone, and tells of none put back by a refusal.
  for (std::size_t i = 0; i < told.size(); ++i) {
    EXPECT_EQ(told[i].second, told.front().second) << i;
    EXPECT_LE(told[i].first, told[i].second) << i;
    if (i > 0) {
      EXPECT_GE(told[i].first, told[i - 1].first) << i;
    }
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
  std::vector<store::HistoryEntry> entries;
  ASSERT_EQ(store::ReadHistory(*w.registry, &entries), ERROR_SUCCESS);
  std::string kept;
  for (const store::HistoryEntry& e : entries)
    kept += std::to_string(e.number) + " " + e.kind + (e.subject.empty() ? "" : " " + e.subject) +
            (e.undoneBy ? " " + std::to_string(e.undoneBy) : "") + "; ";
  EXPECT_EQ(kept, row.history);
}

INSTANTIATE_TEST_SUITE_P(Rows, History, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The bound a program gets by default is what its registry should carry:
// 8 MB of records on Windows, where they share the machine's SOFTWARE hive,
// 64 MB in Linux's own hive. Nine changes of a megabyte each: on Windows the
// two oldest go, and what is kept stays under 8 MB.
TEST(History, TheDefaultBoundIsWhatItsRegistryShouldCarry) {
  World w;
  w.history = std::make_unique<store::HistoryRegistry>(*w.registry, FastPathsOf(*w.registry));
  const std::string megabyte(std::size_t{1} << 20, 'x');
  for (int i = 1; i <= 9; ++i) {
    RegistryTransaction transaction(*w.history);
    SeedValue(*w.history, ".big" + std::to_string(i), "", REG_BINARY, megabyte);
    ASSERT_EQ(transaction.Commit(), ERROR_SUCCESS);
  }
  std::vector<store::HistoryEntry> entries;
  ASSERT_EQ(store::ReadHistory(*w.registry, &entries), ERROR_SUCCESS);
  std::size_t bytes = 0;
  std::string kept;
  for (const store::HistoryEntry& e : entries) {
    bytes += e.bytes;
    kept += std::to_string(e.number) + " ";
  }
#ifdef _WIN32
  EXPECT_EQ(kept, "9 8 7 6 5 4 3 ");
  EXPECT_LE(bytes, std::size_t{8} << 20);
#else
  EXPECT_EQ(kept, "9 8 7 6 5 4 3 2 1 ");
#endif
  EXPECT_GT(bytes, std::size_t{7} << 20);
}

// Hands the start's children over in reverse order, each walked through
// the calls: a walk in an order other than the hive's.
LONG ReversedWalk(IRegistry& registry, HKEY key, regfile::SubtreeVisitor& visitor) {
  struct Below : regfile::SubtreeVisitor {
    regfile::SubtreeVisitor* inner;
    std::string_view name;
    void Key(std::size_t depth, std::string_view key) override { inner->Key(depth + 1, depth == 0 ? name : key); }
    void Value(std::string_view n, DWORD type, std::string_view data) override { inner->Value(n, type, data); }
  } below;
  below.inner = &visitor;
  std::vector<regfile::KeyValue> values;
  std::vector<std::string> children;
  if (LONG code = regfile::ReadKeyContents(registry, key, &values, &children); code != ERROR_SUCCESS) return code;
  visitor.Key(0, "");
  for (const regfile::KeyValue& v : values) visitor.Value(v.name, v.type, v.data);
  for (auto child = children.rbegin(); child != children.rend(); ++child) {
    HKEY sub = 0;
    if (LONG code = registry.RegOpenKeyExA(key, child->c_str(), 0, KEY_READ, &sub); code != ERROR_SUCCESS) return code;
    below.name = *child;
    const LONG code = regfile::WalkSubtree(registry, sub, below);
    registry.RegCloseKey(sub);
    if (code != ERROR_SUCCESS) return code;
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
  const auto read = [&](const regfile::SubtreeWalk& walk) {
    std::vector<store::RecordedTree> trees(paths.size());
    std::vector<store::SubtreeRead> reads;
    for (std::size_t i = 0; i < paths.size(); ++i) reads.push_back({HKEY_LOCAL_MACHINE, &paths[i], &trees[i]});
    EXPECT_EQ(store::ReadSubtrees(*registry, walk, reads), ERROR_SUCCESS);
    std::string all;
    for (const store::RecordedTree& tree : trees) all += std::to_string(tree.Keys()) + ":" + Hex(tree.Bytes()) + "\n";
    return all;
  };
  const std::string by_calls = read(nullptr);
  EXPECT_NE(by_calls.find("\n2:"), std::string::npos);
  EXPECT_EQ(by_calls.substr(by_calls.size() - 3), "0:\n");
  EXPECT_EQ(read([&](HKEY key, regfile::SubtreeVisitor& v) { return ReversedWalk(*registry, key, v); }), by_calls);
  if (const regfile::FastPaths fast = FastPathsOf(*registry); fast.walk) {
    EXPECT_EQ(read(fast.walk), by_calls);
  }
}

}  // namespace
}  // namespace zandrel::testing
