// A registry that keeps the history of its changes: inside each transaction
// it notes the state of every key before the change first touches it, and
// at commit it adds to the history, in the same transaction, the record of
// what the change did (capture/ChangeRecord.h), so that the registry holds both
// or neither. Keys only read are not noted; a key written but left as it
// was is kept in the record as such (a later undo must not take it away),
// and a change that left every key as it was adds nothing.
//
// The history is the program's own: every call and bulk write below that
// would create, write or delete a key of it, or delete a key above it
// (HKEY_LOCAL_MACHINE\SOFTWARE\Zandrel, HKEY_LOCAL_MACHINE\SOFTWARE), is
// refused with registry::kProgramsOwnKey, and changes nothing. Only the
// commit writes there, through the inner registry.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "regfile/RegFile.h"
#include "registry/ForwardingRegistry.h"
#include "capture/ChangeHistory.h"
#include "capture/ChangeRecord.h"
#include "capture/FirstTouches.h"
#include "capture/Places.h"

namespace zandrel::capture {

class HistoryRegistry : public ForwardingRegistry {
 public:
  // `fast` reads and deletes large subtrees (an import's, its undo's); the
  // history keeps the last `bound` changes, fewer when their records pass
  // its bytes.
  explicit HistoryRegistry(IRegistry& inner, regfile::FastPaths fast = {}, HistoryBound bound = {});

  IRegistry& Inner() { return inner_; }

  // What the next committed change is, as the history names it ("import",
  // FILE; "undo", N). Without it an add or a removal is named by the
  // extension key it created or deleted.
  void Describe(std::string kind, std::string subject);
  // The next commit also marks change N as undone by it, and, with `redone`,
  // change `redone` as no longer undone.
  void MarkUndone(unsigned number, unsigned redone);
  // Notes the state of root\path before a change the calls below do not see
  // (a registry's own bulk writes); with `subtree`, of every key below it too
  // (which is to be deleted). kProgramsOwnKey when the change would reach
  // the history.
  LONG Touch(HKEY root, std::string_view path, bool subtree = false);
  // Deletes the subtrees of these created entries inside the transaction:
  // each must hold now what its entry says, which is noted as their state
  // before.
  // Each entry's subtree is taken. `deleted`, when given, is told the keys
  // deleted as they go: one at a time, or all at once after the fast path's
  // one call. kProgramsOwnKey, before any is deleted, when one would take
  // the history along.
  LONG DeleteTrees(const std::vector<RecordEntry*>& created,
                   const std::function<void(std::size_t keys)>& deleted = {});
  // Whether a file's change would create or write a key of the history (a
  // section at or below it) or delete it (a "[-KEY]" at or above it).
  bool ReachesOwnKeys(const registry::Change& change) const;
  // An import's application of a file's changes that leaves out first those
  // that would reach the history (ReachesOwnKeys), each section with its
  // values, and names each in *notes (when not null) as "FILE, line N: why";
  // then makes the rest with `apply`, or through the calls of `calls` (this
  // registry or a wrapper of it). An import of a whole HKEY_LOCAL_MACHINE
  // export thus restores the classes and leaves the history as it is.
  regfile::ChangesApply Checked(IRegistry& calls, regfile::ChangesApply apply = {},
                                std::vector<std::string>* notes = nullptr, std::string file = "") const;
  const regfile::FastPaths& Fast() const { return fast_; }
  // The number the last commit gave the change in the history; 0 when it added none.
  unsigned LastNumber() const { return last_number_; }

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     HKEY* phkResult) override;
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                       DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                       HKEY* phkResult, DWORD* lpdwDisposition) override;
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                      const BYTE* lpData, DWORD cbData) override;
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;
  LONG RegCloseKey(HKEY hKey) override;
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override;
  LONG BeginTransaction() override;
  LONG CommitTransaction() override;
  void RollbackTransaction() override;

 private:
  // Refuses a write of key\sub that reaches the history (`deletion`: its
  // deletion, refused also above the history); in a transaction, notes the
  // key before the write.
  LONG Guard(HKEY key, const char* sub, bool deletion);
  void ClearNotes();
  void Reset();

  IRegistry& inner_;
  regfile::FastPaths fast_;
  KeyPlaces places_;  // HKEY_CLASSES_ROOT known as the machine's classes
  bool in_transaction_ = false;
  FirstTouches notes_;
  std::string identity_;   // Touch's, kept for its room
  HKEY missing_root_ = 0;  // the key last noted missing, as Touch was given it, when it was Touch's key
  std::string missing_path_;
  std::string kind_, subject_;
  std::optional<std::pair<unsigned, unsigned>> undone_;
  HistoryBound bound_;
  unsigned last_number_ = 0;
};

}  // namespace zandrel::capture
