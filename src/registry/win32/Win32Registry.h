// The registry interface over the machine's real registry (advapi32's A
// functions). Real handles are pointers; the interface's handles are 32-bit,
// so each open key gets a small number of its own and the roots keep their
// predefined values. Codes come from Windows unchanged, except that a null
// parent key answers ERROR_INVALID_HANDLE with *phkResult untouched, as
// Windows does, and an unknown handle answers ERROR_INVALID_HANDLE (a
// handle out set to null).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/UndoJournal.h"
#include "registry/Registry.h"
#include "status/Status.h"

namespace zandrel::win32 {

// Plain calls; its own transaction calls answer ERROR_CALL_NOT_IMPLEMENTED
// (the transacted registry is unusable, see UndoJournal.h).
class Win32Registry : public IRegistry {
 public:
  Win32Registry();
  ~Win32Registry() override;
  Win32Registry(const Win32Registry&) = delete;
  Win32Registry& operator=(const Win32Registry&) = delete;

  ZANDREL_REGISTRY_OVERRIDES;
  LONG RegFlushKey(HKEY hKey) override;
  bool LoadIndirectString(const std::string& source, std::string* text) override;
  // Counts the change notices of the machine's and the user's classes
  // (HKEY_CLASSES_ROOT is both), watched from the first call on. The
  // notices of its own writes are taken as they come, uncounted; a change
  // by another process at the same instant goes with them.
  LONG QueryChangeCounter(std::uint64_t* counter) override;

 private:
  // The real key behind an interface handle; 0 when there is none.
  std::uintptr_t Real(HKEY key) const;
  // Gives a real key an interface handle (a root keeps its own value).
  HKEY Adopt(std::uintptr_t real);
  // After a write of its own: its notices re-armed, uncounted. Returns `code`.
  LONG OwnWrite(LONG code);

  std::map<HKEY, std::uintptr_t> keys_;
  HKEY next_ = 1;
  struct Watch {
    std::uintptr_t key = 0;    // a real key, opened for the notices alone
    std::uintptr_t event = 0;  // set by a change below it
  };
  std::vector<Watch> watches_;
  bool watching_ = false;
  std::uint64_t changes_ = 0;
};

// Where the undo record lives and the lock file that keeps writers apart
// (api::TakeAdministratorsLock), in the same folder.
struct UndoPlace {
  std::string record_path;
  std::string lock_path;
  // What a change may write, and a record found at start may write back:
  // the machine's classes and the program's own key (its history).
  // The machine key, below HKEY_LOCAL_MACHINE, that holds what changes
  // contained (the history) and so only administrators and SYSTEM may open
  // ("" for none).
  std::string private_key = {};
  capture::JournalScope keys = {{HKEY_CLASSES_ROOT, ""},
                                {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"},
                                {HKEY_LOCAL_MACHINE, "SOFTWARE\\Zandrel"}};
};

// The record in the machine's application data folder
// (%ProgramData%\Zandrel\undo-record, a folder only administrators and
// SYSTEM may write): what it guards is the machine's classes, so any
// administrator's copy replays what another's left. A lock file beside it
// only administrators may open. And HKEY_LOCAL_MACHINE\SOFTWARE\Zandrel,
// where the history lives.
UndoPlace DefaultUndoPlace();

}  // namespace zandrel::win32

namespace zandrel::win32 {

// The record file and the lock of `place`, into *store; kNotFound
// when there is no place for the record, kFailed when its folder may be
// changed by others than the administrators and SYSTEM (made here by an
// elevated copy when missing).
status::Status OpenUndoStore(const UndoPlace& place, std::unique_ptr<capture::UndoStore>* store);

// The real registry with all-or-nothing transactions, into *registry. A
// record left by a process that died inside a change is rolled back before
// this returns, unless another copy holds the lock
// (JournalledRegistry::Recover). Fails when the record cannot be read or
// replayed, or belongs to a stranger. The place's private key is made
// administrators' and SYSTEM's alone first (api::RestrictMachineKey); a copy
// that is not elevated cannot, and starts all the same (it cannot write the
// history either); any other refusal fails.
status::Status OpenWindowsRegistry(const UndoPlace& place, std::unique_ptr<IRegistry>* registry);

}  // namespace zandrel::win32
