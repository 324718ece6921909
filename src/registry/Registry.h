// The registry as the association store sees it: the Win32 advapi32 operations
// it calls, with their argument shapes, codes, roots and masks. The store is
// written against IRegistry only; the portable hive (registry/hive) implements
// it here, and a Windows build can put advapi32 behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zandrel {

namespace registry {
struct Change;         // registry/Change.h
struct KeyPath;        // registry/KeyPath.h
class SubtreeVisitor;  // registry/Subtree.h
}  // namespace registry

using HKEY = std::uint32_t;  // 32-bit key handle; 0 is "no handle"
using LONG = std::int32_t;   // result code; 0 is ERROR_SUCCESS
using DWORD = std::uint32_t;
using REGSAM = std::uint32_t;  // access mask
using BYTE = std::uint8_t;

struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};

// Predefined roots.
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;

// Result codes the registry returns.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr LONG ERROR_WRITE_FAULT = 29;  // the hive could not be written (I/O)
inline constexpr LONG ERROR_READ_FAULT = 30;   // the hive could not be read (I/O)
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_DISK_FULL = 112;
inline constexpr LONG ERROR_BAD_PATHNAME = 161;
inline constexpr LONG ERROR_CALL_NOT_IMPLEMENTED = 120;
inline constexpr LONG ERROR_BUSY = 170;  // another process holds the hive too long
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_BADDB = 1009;  // the hive file is not a usable hive
inline constexpr LONG ERROR_CANTOPEN = 1011;
inline constexpr LONG ERROR_REGISTRY_IO_FAILED = 1016;

// Dispositions of RegCreateKeyExA.
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;

// Access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_EXECUTE = 0x20019;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
// The six basic rights together; what the listing and DeleteKey ask for.
inline constexpr REGSAM KEY_ACCESS_0x3F = 0x3F;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
inline constexpr DWORD REG_LINK = 6;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_QWORD = 11;

// Longest key or value name, in characters.
inline constexpr DWORD MAX_KEY_NAME_CHARS = 255;
// Deepest nesting of keys below a root.
inline constexpr DWORD MAX_KEY_DEPTH = 512;

// One write of a run announced with IRegistry::WillWrite: a key created
// (with any missing parents), a value set or deleted, a key without subkeys
// deleted. `path` is below `root`, as the call will spell it.
struct PlannedWrite {
  enum class Kind { kCreateKey, kSetValue, kDeleteValue, kDeleteKey };
  Kind kind = Kind::kCreateKey;
  HKEY root = 0;
  std::string path;
  std::string name;  // kSetValue, kDeleteValue
  DWORD type = 0;    // kSetValue
  std::string data;  // kSetValue
};

// How many writes a caller announces at a time: enough that a run's one
// flush costs little, few enough that the reads of a run ahead of its writes
// keep a window's progress steady.
inline constexpr std::size_t kAnnouncedRun = 4096;

// The seven operations the store uses, plus a transaction scope so that one
// logical change (an add, a removal) lands whole or not at all. Texts are in
// the ANSI code page, which is UTF-8 on this platform. Every operation returns
// a Win32 code; none throws.
class IRegistry {
 public:
  virtual ~IRegistry() = default;

  virtual LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) = 0;
  // lpcchName: in, the buffer's size in bytes with room for the NUL; out, the
  // name's length without it. On 234 nothing is written and the length stays.
  virtual LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,
                             DWORD* lpcchClass, FILETIME* lpftLastWriteTime) = 0;
  // lpcbData: in, the data buffer's size; out, the value's size. A string
  // stored without its NUL gets one written after it when the buffer has room
  // (not counted). 234: a data buffer too small is left untouched and
  // *lpcbData holds the size needed; a name buffer without room for the name
  // and its NUL is left untouched, the data still written when it fits; the
  // name's length stays as passed.
  virtual LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                             DWORD* lpType, BYTE* lpData, DWORD* lpcbData) = 0;
  virtual LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,
                               REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult,
                               DWORD* lpdwDisposition) = 0;
  virtual LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) = 0;
  // Refuses (5) a key that still has subkeys; takes the key's values with it.
  virtual LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) = 0;
  virtual LONG RegCloseKey(HKEY hKey) = 0;

  // Not used by the store; the .reg importer needs it ("name"=-).
  virtual LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) = 0;

  // The extensions (the subkeys of the machine's classes,
  // HKEY_LOCAL_MACHINE\SOFTWARE\Classes, whose names begin with ".", as the
  // changes write them; not the user's own) whose default value is the REG_SZ `title` (its text up to one
  // terminating NUL, compared as key names are; a value over 4096 bytes is
  // passed over), into *extensions in enumeration order. The default reads
  // them with the calls above, every extension's default value in turn; a
  // registry that can find them without reading every extension answers the
  // same. 0, or the first failing code: the list may then miss some.
  virtual LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions);

  // The text an indirect string stands for ("@%SystemRoot%\\system32\\shell32.dll,-154",
  // "@{Package?ms-resource://...}", as names and descriptions in the classes
  // are often kept), into *text, as the shell resolves it
  // (SHLoadIndirectString). False when it cannot be resolved; a registry of
  // a system without such strings always answers false.
  virtual bool LoadIndirectString(const std::string& source, std::string* text) {
    (void)source;
    (void)text;
    return false;
  }
  // A hint before a run of writes inside a transaction: the writes the next
  // calls will make, in their order, so that a registry that records what a
  // change touches (the journal over a registry without transactions) may
  // record them all at once. It changes nothing; the calls that follow make
  // the writes, and may make others.
  virtual void WillWrite(const std::vector<PlannedWrite>& writes) { (void)writes; }

  // Writes the key's changes to disk before it returns, as far as the
  // registry writes them lazily; a registry whose commits are durable
  // answers 0 at once.
  virtual LONG RegFlushKey(HKEY hKey) {
    (void)hKey;
    return ERROR_SUCCESS;
  }

  // A number that moves when another process (or another instance of the
  // registry) has committed a change to the store since it was last asked;
  // it may move for this instance's own changes too. 0 with *counter set,
  // or ERROR_CALL_NOT_IMPLEMENTED where the registry cannot tell. Cheap
  // enough to be asked a few times a second.
  virtual LONG QueryChangeCounter(std::uint64_t* counter) {
    (void)counter;
    return ERROR_CALL_NOT_IMPLEMENTED;
  }

  // The bulk operations. Each has a default through the calls above
  // (registry/Defaults.h); a registry with a faster way of its own overrides
  // it and hands over, makes or deletes exactly what the default would, with
  // the same codes. A wrapper passes them on (ForwardingRegistry); one that
  // watches or changes the writes overrides ApplyChanges and DeleteTrees,
  // or writes made below it in bulk would pass it unseen.

  // Hands the subtree of the open `hKey` to `visitor`: each key, its values,
  // then its subkeys' subtrees, in enumeration order. 0 or the first code
  // other than "no more items"; what was handed over before a failure is
  // incomplete.
  virtual LONG WalkSubtree(HKEY hKey, registry::SubtreeVisitor& visitor);
  // Whether WalkSubtree reads the whole store in a few scans before it hands
  // anything over: one walk of a parent then serves many of its subtrees
  // better than a walk of each, and a walk that fails does so before its
  // first key. False for the walk through the calls.
  virtual bool WalkReadsWholeFirst() { return false; }
  // Makes the changes a .reg file was parsed into, in their order, inside a
  // transaction scope (registry::ApplyThroughCalls): 0, or the code of the
  // change at *failed, after which the scope must be rolled back (part of
  // the changes may have been made).
  virtual LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed);
  // Deletes each root\path with everything below it, in their order, as a
  // file's "[-KEY]" line does: 0, also for a key that is not there, or the
  // first failing code. `deleted`, when set, is told of the keys deleted as
  // they go when they are deleted one at a time, as the default does; a
  // registry that deletes them in bulk tells it nothing.
  virtual LONG DeleteTrees(const std::vector<registry::KeyPath>& keys,
                           const std::function<void(std::size_t keys)>& deleted);

  // Transaction scope. Between Begin and Commit, the calls of this instance
  // form one change that other readers see only once committed; Rollback
  // undoes them. Scopes do not nest. Begin waits (bounded) for other writers.
  virtual LONG BeginTransaction() = 0;
  virtual LONG CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;
};

// The calls that change the registry, and a transaction's begin and commit,
// declared as overrides.
#define ZANDREL_REGISTRY_CHANGING_CALLS                                                                              \
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass, DWORD dwOptions,        \
                       REGSAM samDesired, const void* lpSecurityAttributes, HKEY* phkResult, DWORD* lpdwDisposition) \
      override;                                                                                                      \
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,          \
                      DWORD cbData) override;                                                                        \
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override;                                                      \
  LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) override;                                                 \
  LONG BeginTransaction() override;                                                                                  \
  LONG CommitTransaction() override

// Declares every call of IRegistry as an override, for a class that answers
// them all itself (a backend, or a wrapper that watches every call); a
// wrapper that changes only some derives from ForwardingRegistry instead.
#define ZANDREL_REGISTRY_OVERRIDES                                                                                   \
  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY* phkResult) override; \
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved, char* lpClass,     \
                     DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override;                                       \
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,          \
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;                                         \
  LONG RegCloseKey(HKEY hKey) override;                                                                              \
  void RollbackTransaction() override;                                                                               \
  ZANDREL_REGISTRY_CHANGING_CALLS

// Declares every call and bulk operation that changes the registry, and the
// transaction's begin and commit, as overrides: for a layer that watches the
// writes passing through (it adds the other calls it watches itself).
#define ZANDREL_REGISTRY_WRITE_OVERRIDES                                                                             \
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override;          \
  LONG DeleteTrees(const std::vector<registry::KeyPath>& keys, const std::function<void(std::size_t keys)>& deleted) \
      override;                                                                                                      \
  ZANDREL_REGISTRY_CHANGING_CALLS

// Rolls back on scope exit unless Commit() succeeded.
class RegistryTransaction {
 public:
  explicit RegistryTransaction(IRegistry& registry) : registry_(registry), begin_code_(registry.BeginTransaction()) {}
  ~RegistryTransaction() {
    if (begin_code_ == ERROR_SUCCESS && !committed_) registry_.RollbackTransaction();
  }
  RegistryTransaction(const RegistryTransaction&) = delete;
  RegistryTransaction& operator=(const RegistryTransaction&) = delete;

  LONG BeginCode() const { return begin_code_; }
  LONG Commit() {
    if (begin_code_ != ERROR_SUCCESS) return begin_code_;
    LONG code = registry_.CommitTransaction();
    committed_ = code == ERROR_SUCCESS;
    return code;
  }

 private:
  IRegistry& registry_;
  LONG begin_code_;
  bool committed_ = false;
};

}  // namespace zandrel
