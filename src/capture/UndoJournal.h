// All-or-nothing changes over a registry that has no transactions of its own
// (advapi32: the transacted registry is a stub under Wine and does not load
// there). Before each change inside a transaction the journal records the
// prior state of what the change touches (a key's first entry its state
// before the change first touched it, FirstTouches.h, as the history notes
// it), appends that entry durably to the undo record (UndoRecord.h), and
// only then lets the change through. Commit removes the record; rollback
// replays it in reverse. A record found at start (or when the lock is next
// taken) was left by a process that died inside a change: it is replayed, so
// a kill at any write leaves the old state.
//
// Replaying a record twice leaves the same state as once, so a death during a
// rollback is repaired by the next start. A record is replayed only over keys
// whose every value holds a state the record knows for it (before or after
// any of its entries for the key; missing while a replay makes a deleted key
// or value again) and that exist or are missing as it allows: a key changed
// since is never overwritten, and the record stays (ChangedSince.h). Paths
// and value names compare as the registry compares them
// (registry::UpperName). The lock, taken only from the start of a change to
// its commit or rollback, keeps two processes' changes apart; changes made
// by other programs meanwhile are not guarded.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "capture/FirstTouches.h"
#include "capture/Places.h"
#include "capture/UndoRecord.h"
#include "registry/Codes.h"
#include "registry/ForwardingRegistry.h"
#include "status/Status.h"

namespace zandrel::capture {

// Where the undo record lives and what keeps writers apart.
class UndoStore {
 public:
  virtual ~UndoStore() = default;
  // Takes the lock that keeps writers apart: with `wait`, waits (bounded) for
  // another writer; without, answers ERROR_BUSY at once while one holds it.
  // Other codes when there is no lock to be had here.
  virtual LONG Lock(bool wait) = 0;
  virtual void Unlock() = 0;
  // Returns only once the bytes are on disk.
  virtual LONG Append(const std::string& bytes) = 0;
  // ERROR_FILE_NOT_FOUND when there is no record.
  virtual LONG Read(std::string* bytes) = 0;
  // 0 also when there is no record.
  virtual LONG Remove() = 0;
};

// The codes of a replay refused over a key changed since, of a change or a
// record writing outside the journal's scope (JournalScope), and of a record
// damaged other than by its writer's death (DecodedRecord), never replayed.
using registry::kChangedSinceRecord;
using registry::kDamagedRecord;
inline constexpr LONG kOutsideJournalScope = registry::kOutsideChangedKeys;

// The keys a journal lets changes write and a replay write back: each a root
// and a path below it ("" for the whole root), compared as the registry
// compares names. Empty: every key. A change may set and delete values of
// any key at or below a scope key, make any that is missing there (a scope
// key too: a created entry for one replays as deleting it only while it holds
// nothing), and delete only keys below one; a key outside is opened but never
// made or written. A record names what the next start writes with its own
// rights, so a record naming anything else, or a key it may not make or
// delete, is not the program's and is not replayed.
struct JournalKey {
  HKEY root = 0;
  std::string path;
};
using JournalScope = std::vector<JournalKey>;

class JournalledRegistry : public ForwardingRegistry {
 public:
  // `inner`'s own transaction calls are never used.
  JournalledRegistry(std::unique_ptr<IRegistry> inner, std::unique_ptr<UndoStore> store, JournalScope scope = {});
  ~JournalledRegistry() override;

  // Rolls back a record left by a process that died inside a change.
  // 0 when there was none or it was replayed, and also when the lock cannot
  // be had at once: then another copy is inside a change (the record is its
  // own, and may be being written) or there is no lock here, and the next
  // change, which waits for the lock, replays what is left. Start-up never
  // waits for the lock, and never calls a change that runs unfinished.
  LONG Recover();
  // After a replay refused with kChangedSinceRecord: the key that changed;
  // with kOutsideJournalScope: the key outside the scope.
  const std::string& ChangedKey() const { return changed_key_; }
  // After kDamagedRecord: the record's first damaged line, the header line 1.
  std::size_t DamagedLine() const { return damaged_line_; }

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     HKEY* phkResult) override;
  LONG RegCloseKey(HKEY hKey) override;
  void RollbackTransaction() override;
  // Records the entries of the announced writes in one durable append, so
  // that a run of many writes costs one flush, not one per write. Each write
  // still reads what it changes; one whose entry was recorded so (the same
  // key, values and change) appends nothing, any other appends its own.
  void WillWrite(const std::vector<PlannedWrite>& writes) override;
  // Each write is recorded before it is let through; the bulk operations go
  // through the calls above (JournalBulk.cpp), never the inner registry's own.
  ZANDREL_REGISTRY_WRITE_OVERRIDES;

 private:
  LONG Record(RecordEntry entry);
  LONG RecordValues(RecordEntry::Kind kind, const Place& place, const registry::Value& change, bool deleting);
  void Replay(const std::vector<RecordEntry>& entries);
  LONG ReplayRecord();
  // Whether root\path lies inside the scope: at or below one of its keys, or
  // with `strictly`, below one.
  bool InScope(HKEY root, const std::string& path, bool strictly = false) const;
  // Whether the scope lets an entry of `kind` name root\path (JournalScope).
  bool Allows(RecordEntry::Kind kind, HKEY root, const std::string& path) const;
  // Writes to disk the keys `entries` touched, before their record goes.
  LONG FlushTouched(const std::vector<RecordEntry>& entries);
  void EndTransaction();

  std::unique_ptr<IRegistry> inner_;  // the registry the base forwards to
  std::unique_ptr<UndoStore> store_;
  JournalScope scope_;
  KeyPlaces places_;
  // The state of each key before the change first touched it, which its
  // first entry holds.
  FirstTouches notes_;
  bool in_transaction_ = false;
  std::vector<RecordEntry> entries_;
  // Entries recorded ahead by WillWrite whose write has not come yet, by
  // their comparison key (ComparisonKey in UndoJournal.cpp).
  std::multiset<std::string> ahead_;
  // Keys known to be there during this change (made or found by it), by
  // their paths as spelt, so that making a key below them asks no more; any
  // deletion forgets them all.
  std::set<std::pair<HKEY, std::string>> existing_;
  std::string changed_key_;
  std::size_t damaged_line_ = 0;
};

// `inner` with all-or-nothing transactions over `store`, as a program starts
// it, into *started: a record left by a process that died inside a change is
// rolled back first (Recover). Fails (kFailed) when that record cannot be
// read or replayed, naming the key when one changed since or lies outside
// `scope`, and the line when the record is damaged (then it is kept);
// `record` names the record. A copy the replay is denied to (ERROR_ACCESS_DENIED: no right
// to write there) starts all the same and leaves the record to one that may.
status::Status StartJournalled(std::unique_ptr<IRegistry> inner, std::unique_ptr<UndoStore> store,
                               const std::string& record, std::unique_ptr<IRegistry>* started,
                               JournalScope scope = {});

}  // namespace zandrel::capture
