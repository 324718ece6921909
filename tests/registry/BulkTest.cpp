// The registry's vocabulary: the bulk operations through the wrappers, each
// passing them on to the registry below (its own way, when it has one) or
// making them through its own calls where it must see every write; key
// paths; the process-wide wait hook.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/HistoryRegistry.h"
#include "capture/UndoJournal.h"
#include "registry/Change.h"
#include "registry/ForwardingRegistry.h"
#include "registry/Key.h"
#include "registry/KeyPath.h"
#include "registry/Names.h"
#include "registry/Wait.h"
#include "store/ChangeRefusal.h"
#include "store/ChangeUndo.h"
#include "support/Backends.h"
#include "support/MemoryStore.h"
#include "support/Support.h"

namespace zandrel::testing {
namespace {

// Passes everything on, writing down which bulk operations reach it and the
// key writes made through its calls.
class Recorder : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  std::string log;
  LONG refuse = 0;  // what the bulk writes answer instead, when set

  LONG WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor) override {
    log += "walk ";
    return Target().WalkSubtree(hKey, visitor);
  }
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override {
    log += "apply ";
    if (refuse != 0) return refuse;
    return Target().ApplyChanges(changes, failed);
  }
  LONG DeleteTrees(const std::vector<registry::KeyPath>& keys,
                   const std::function<void(std::size_t keys)>& deleted) override {
    log += "delete ";
    if (refuse != 0) return refuse;
    return Target().DeleteTrees(keys, deleted);
  }
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                       DWORD* lpdwDisposition) override {
    log += "create ";
    return Target().RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, lpSecurityAttributes,
                                    phkResult, lpdwDisposition);
  }
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override {
    log += "deletekey ";
    return Target().RegDeleteKeyA(hKey, lpSubKey);
  }
};

// Walks .zb, applies a section making .zb\new, deletes the tree .zb\old,
// in one change through `registry`.
void Bulk(IRegistry& registry) {
  RegistryTransaction transaction(registry);
  ASSERT_EQ(transaction.BeginCode(), ERROR_SUCCESS);
  HKEY key = 0;
  ASSERT_EQ(registry.RegOpenKeyExA(HKEY_CLASSES_ROOT, ".zb", 0, KEY_READ, &key), ERROR_SUCCESS);
  Transcript walked;
  EXPECT_EQ(registry.WalkSubtree(key, walked), ERROR_SUCCESS);
  EXPECT_EQ(walked.text.substr(0, walked.text.find('\n')), "0 []");
  registry.RegCloseKey(key);
  std::deque<registry::Change> changes(1);
  changes[0].root = HKEY_CLASSES_ROOT;
  changes[0].path = ".zb\\new";
  const registry::Change* failed = nullptr;
  EXPECT_EQ(registry.ApplyChanges(changes, &failed), ERROR_SUCCESS);
  std::size_t deleted = 0;
  EXPECT_EQ(registry.DeleteTrees({{HKEY_CLASSES_ROOT, ".zb\\old"}}, [&deleted](std::size_t keys) { deleted += keys; }),
            ERROR_SUCCESS);
  EXPECT_EQ(transaction.Commit(), ERROR_SUCCESS);
}

TEST(RegistryBulk, EachWrapperPassesItOnOrMakesItThroughItsCalls) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<IRegistry>(Recorder& below)> wrap;
    std::string log;  // what reaches the registry below
  } rows[] = {
      {"forwarding",
       [](Recorder& below) { return std::make_unique<ForwardingRegistry>(static_cast<IRegistry&>(below)); },
       "walk apply delete "},
      {"calls only", [](Recorder& below) { return std::make_unique<CallsOnly>(static_cast<IRegistry&>(below)); },
       "create create deletekey deletekey "},
      {"refusal watch",
       [](Recorder& below) { return std::make_unique<store::RefusalWatch>(static_cast<IRegistry&>(below)); },
       "walk apply delete "},
      {"history", [](Recorder& below) { return std::make_unique<capture::HistoryRegistry>(below); },
       "walk apply delete create create "},  // then the record's keys
      {"journal",
       [](Recorder& below) {
         return std::make_unique<capture::JournalledRegistry>(
             std::make_unique<ForwardingRegistry>(static_cast<IRegistry&>(below)), std::make_unique<MemoryStore>());
       },
       "walk create create walk deletekey deletekey "},  // a walk to announce the deletions
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    std::unique_ptr<IRegistry> store = MakeRegistry(dir.Path());
    ASSERT_EQ(SeedKey(*store, ".zb\\old\\sub"), ERROR_SUCCESS);
    Recorder below(*store);
    std::unique_ptr<IRegistry> wrapper = row.wrap(below);
    Bulk(*wrapper);
    EXPECT_EQ(below.log, row.log);
    EXPECT_EQ(DumpTree(*store, HKEY_CLASSES_ROOT, ".zb"), "[.zb]\n[.zb\\new]\n");
  }
}

// A bulk write refused for the lock is a refusal the watch explains.
TEST(RegistryBulk, TheRefusalWatchSeesThem) {
  TempDir dir;
  std::unique_ptr<IRegistry> store = MakeRegistry(dir.Path());
  Recorder below(*store);
  below.refuse = ERROR_BUSY;
  for (bool apply : {true, false}) {
    store::RefusalWatch watch(static_cast<IRegistry&>(below));
    const std::deque<registry::Change> changes(1);
    const registry::Change* failed = nullptr;
    EXPECT_EQ(apply ? watch.ApplyChanges(changes, &failed) : watch.DeleteTrees({{HKEY_CLASSES_ROOT, ".zb"}}, {}),
              ERROR_BUSY);
    EXPECT_EQ(watch.Code(), ERROR_BUSY);
  }
}

// The history notes what its bulk operations reach before the registry
// below makes them, so that their change is undone like any other.
TEST(RegistryBulk, TheHistoryNotesThemForTheUndo) {
  TempDir dir;
  std::unique_ptr<IRegistry> store = MakeRegistry(dir.Path());
  ASSERT_EQ(SeedValue(*store, ".zb\\old\\sub", "v", REG_SZ, std::string("x\0", 2)), ERROR_SUCCESS);
  const std::string before = DumpTree(*store, HKEY_CLASSES_ROOT, ".zb");
  capture::HistoryRegistry history(*store);
  Bulk(history);
  ASSERT_NE(DumpTree(*store, HKEY_CLASSES_ROOT, ".zb"), before);
  EXPECT_EQ(store::UndoChange(history, 0).result, store::UndoOutcome::Result::kUndone);
  EXPECT_EQ(DumpTree(*store, HKEY_CLASSES_ROOT, ".zb"), before);
}

// A subkey listed under a name that does not open it again (on Windows, one
// another program named outside the code page) ends a tree's deletion with an
// error, not an endless loop, and leaves the tree.
TEST(RegistryBulk, ASubkeyThatDoesNotOpenEndsTheDeletion) {
  class GhostNames : public CallsOnly {
   public:
    using CallsOnly::CallsOnly;
    LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override {
      if (lpSubKey != nullptr && std::string_view(lpSubKey).ends_with("\\ghost")) return ERROR_FILE_NOT_FOUND;
      return CallsOnly::RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    }
  };
  TempDir dir;
  std::unique_ptr<IRegistry> store = MakeRegistry(dir.Path());
  ASSERT_EQ(SeedKey(*store, ".zg\\ghost"), ERROR_SUCCESS);
  GhostNames ghosts(*store);
  EXPECT_EQ(ghosts.DeleteTrees({{HKEY_CLASSES_ROOT, ".zg"}}, {}), ERROR_CANTOPEN);
  EXPECT_EQ(registry::Key(*store).Open(HKEY_CLASSES_ROOT, ".zg\\ghost"), ERROR_SUCCESS);
}

TEST(RegistryNames, KeyPathsTakeLongAndShortRootNames) {
  const std::pair<std::string, std::string> rows[] = {
      // a path, and its root's name | the rest, or "" if refused
      {"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT|"},
      {"HKCR\\.txt", "HKEY_CLASSES_ROOT|.txt"},
      {"hkcr\\\\a\\\\b\\", "HKEY_CLASSES_ROOT|a\\b"},
      {"HKLM\\SOFTWARE\\Classes", "HKEY_LOCAL_MACHINE|SOFTWARE\\Classes"},
      {"HKEY_LOCAL_MACHINE\\x", "HKEY_LOCAL_MACHINE|x"},
      {"HKCU\\Software", "HKEY_CURRENT_USER|Software"},
      {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER|"},
      {"HKU\\.DEFAULT", "HKEY_USERS|.DEFAULT"},
      {"HKEY_USERS", "HKEY_USERS|"},
      {"HKEY_CLASSES", ""},
      {"", ""},
      {"\\HKCR", ""},
  };
  for (const auto& [path, expected] : rows) {
    HKEY root = 0;
    std::string sub;
    EXPECT_EQ(registry::ParseKeyPath(path, &root, &sub) ? std::string(registry::RootName(root)) + "|" + sub : "",
              expected)
        << path;
  }
}

// It runs on the thread that set it and no other, never inside itself, and
// not at all once cleared.
TEST(WaitHook, RunsOnlyOnItsOwnThreadAndNeverInsideItself) {
  int runs = 0;
  registry::SetWaitHook([&runs] {
    ++runs;
    registry::Waiting();  // a wait inside the hook (a repaint that reads the registry)
  });
  registry::Waiting();
  registry::Waiting();
  EXPECT_EQ(runs, 2);
  std::thread other([] { registry::Waiting(); });
  other.join();
  EXPECT_EQ(runs, 2) << "another thread's wait leaves the window system alone";
  const std::function<void()> replaced = registry::SetWaitHook(nullptr);
  registry::Waiting();
  EXPECT_EQ(runs, 2);
  ASSERT_TRUE(replaced) << "handed back, for its setter to put back";
  replaced();
  EXPECT_EQ(runs, 3);
}

}  // namespace
}  // namespace zandrel::testing
