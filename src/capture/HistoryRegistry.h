// A registry that keeps the history of its changes: inside each transaction
// it notes the state of every key before the change first touches it
// (FirstTouches.h, as the crash journal notes it), and at commit it adds to
// the history, in the same transaction, the record of what the change did
// (ChangeRecord.h), so that the registry holds both or neither. Keys only read are not noted; a key written but left as
// it was is kept in the record as such (a later undo must not take it away), and a change that left every key as it was
// adds nothing.
//
// The history is the program's own: every call and bulk write below that
// would create, write or delete a key of it, or delete a key above it
// (HKEY_LOCAL_MACHINE\SOFTWARE\Zandrel, HKEY_LOCAL_MACHINE\SOFTWARE), is
// refused with registry::kProgramsOwnKey, and changes nothing. Only the
// commit writes there, through the inner registry.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/ChangeHistory.h"
#include "capture/ChangeRecord.h"
#include "capture/FileRecord.h"
#include "capture/FirstTouches.h"
#include "capture/Places.h"
#include "registry/Change.h"
#include "registry/ForwardingRegistry.h"
#include "registry/KeyPath.h"

namespace zandrel::capture {

class HistoryRegistry : public ForwardingRegistry {
 public:
  // The history keeps the last `bound` changes, fewer when their records
  // pass its bytes.
  explicit HistoryRegistry(IRegistry& inner, HistoryBound bound = {});

  IRegistry& Inner() { return inner_; }

  // What the next committed change is, as the history names it ("import",
  // FILE; "undo", N). Without it an add or a removal is named by the
  // extension key it created or deleted.
  void Describe(std::string kind, std::string subject);
  // The next commit also marks change N as undone by it, and, when N is an
  // undo, the changes down its chain as standing again or undone
  // (AddToHistory).
  void MarkUndone(unsigned number);
  // The next commit also writes these desktop files (on Linux its
  // mimeapps.list files, MIME package and desktop entries), just before its
  // own and journalled (WriteChangeFiles), and keeps `files`, their lines
  // the change touched, beside its keys; a change with file lines is kept
  // even when it left every key as it was. A file that cannot be written
  // fails the commit with ERROR_WRITE_FAULT, *failure naming it.
  void AttachFiles(FileRecord files, FileContents contents, std::string* failure);
  // Where the journal of a change's files is kept ("": none is kept, as on
  // Windows, where no change writes files). A journal left by a death is
  // repaired as the next transaction begins, or by RepairFiles.
  void JournalFilesAt(std::string path) { journal_ = std::move(path); }
  void RepairFiles();
  // What each transaction holds from its beginning to its end, taken before
  // the store's own lock (on Linux the lock of the desktop's files, which
  // the projection takes too), so that a change reading and then writing
  // those files, an undo's too, meets no other writer of them between.
  void HoldFilesWith(std::function<std::shared_ptr<void>()> hold) { hold_ = std::move(hold); }
  // Notes the state of root\path before a change the calls below do not see
  // (a registry's own bulk writes); with `subtree`, of every key below it too
  // (which is to be deleted). kProgramsOwnKey when the change would reach
  // the history.
  LONG Touch(HKEY root, std::string_view path, bool subtree = false);
  // Deletes the subtrees of these created entries inside the transaction
  // (the inner registry's DeleteTrees): each must hold now what its entry
  // says, which is noted as their state before. Each entry's subtree is
  // taken. `deleted`, when given, is told the keys deleted as they go: one
  // at a time, or, when the inner registry deletes in bulk, all at once
  // after. kProgramsOwnKey, before any is deleted, when one would take the
  // history along.
  LONG DeleteCreated(const std::vector<RecordEntry*>& created,
                     const std::function<void(std::size_t keys)>& deleted = {});
  // Whether a file's change would create or write a key of the history (a
  // section at or below it) or delete it (a "[-KEY]" at or above it).
  bool ReachesOwnKeys(const registry::Change& change) const;
  // Where ApplyChanges names each change it leaves out, as
  // "FILE, line N: why": *notes (null: nowhere).
  void NoteLeftOut(std::vector<std::string>* notes, std::string file);
  // The number the last commit gave the change in the history; 0 when it added none.
  unsigned LastNumber() const { return last_number_; }

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override;
  LONG RegCloseKey(HKEY hKey) override;
  void RollbackTransaction() override;
  // The writes pass Guard. ApplyChanges leaves out first the changes that
  // would reach the history (ReachesOwnKeys), each section with its values,
  // naming each where NoteLeftOut said; notes the state of every key the rest
  // reach; then has the inner registry make them. An import of a whole
  // HKEY_LOCAL_MACHINE export thus restores the classes and leaves the history
  // as it is. DeleteTrees notes each subtree before the inner registry deletes
  // it; kProgramsOwnKey, before any is deleted, when one would take the
  // history along.
  ZANDREL_REGISTRY_WRITE_OVERRIDES;

 private:
  // Refuses a write of key\sub that reaches the history (`deletion`: its
  // deletion, refused also above the history); in a transaction, notes the
  // key before the write.
  LONG Guard(HKEY key, const char* sub, bool deletion);
  void ClearNotes();
  void Reset();

  IRegistry& inner_;
  KeyPlaces places_;  // HKEY_CLASSES_ROOT known as the machine's classes
  std::vector<std::string>* left_out_notes_ = nullptr;
  std::string left_out_file_;
  bool in_transaction_ = false;
  FirstTouches notes_;
  std::string identity_;   // Touch's, kept for its room
  HKEY missing_root_ = 0;  // the key last noted missing, as Touch was given it, when it was Touch's key
  std::string missing_path_;
  std::string kind_, subject_;
  unsigned undone_ = 0;
  FileRecord files_;
  FileContents contents_;
  std::string* file_failure_ = nullptr;
  std::string journal_;
  std::function<std::shared_ptr<void>()> hold_;
  std::shared_ptr<void> held_;
  HistoryBound bound_;
  unsigned last_number_ = 0;
};

}  // namespace zandrel::capture
