// The store's small registry routines and the text rules shared by the
// listing, the writer and the remover. Texts are UTF-8, the registry's code
// page here.
#pragma once

#include <string>
#include <vector>

#include "registry/Key.h"
#include "registry/Names.h"
#include "registry/Registry.h"
#include "store/Prompter.h"
#include "text/Trim.h"

namespace zandrel::store {

// Longest key or value name in bytes: 255 characters of up to 4 UTF-8 bytes.
inline constexpr DWORD kNameBufferBytes = MAX_KEY_NAME_CHARS * 4 + 1;
// Value data read by the listing; a larger value is passed over.
inline constexpr DWORD kValueDataBufferBytes = 1024 * 4;

// The listing only reads: a user who may read the classes but not change
// them still gets the whole list.
inline constexpr REGSAM kListAccess = KEY_READ;
// EnumSubKeys and DeleteKey walk subkeys; the handle a key is deleted through
// needs no right of its own.
inline constexpr REGSAM kWalkAccess = KEY_ENUMERATE_SUB_KEYS;

// Whether two key names are the same to the registry; spaces trimmed.
using registry::SameKeyName;
using text::Trim;

// Trimmed, without one leading "*" (a file mask as typed: "*.pdf"), with a
// "." put in front unless the text then begins with one.
std::string PrepareExtension(const std::string& text);

// The names of the direct subkeys of an open key, each cut at its first NUL,
// in enumeration order. A name that does not fit (234) is passed over; any
// other non-zero code ends the list, and is given in *failed when asked for
// (0 when the list is whole).
std::vector<std::string> SubKeyNames(IRegistry& registry, HKEY key, LONG* failed = nullptr);

// Sets the REG_SZ value `valueName` of the existing key root\path to `value`
// (its UTF-8 bytes, their count as the size). A key that cannot be opened:
// false, no message. A refused set: the message "Unable to set value of " +
// value + " to subkey " + valueName, and false. True when the set succeeded.
bool SetKeyValue(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path,
                 const std::string& valueName, const std::string& value);

// Whether root\path can be opened to walk its subkeys; walks them. A key
// that cannot be opened shows "Unable to open " + path and gives false.
bool EnumSubKeys(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path);

// Deletes root\path with all its subkeys, deepest first. One trailing "\" of
// the path is dropped. A key that cannot be opened shows "Unable to open " +
// path. True only when the key is gone; false as soon as a deletion is
// refused (what was deleted before stays deleted: callers that need all or
// nothing run it inside a transaction). `path` must not be empty.
bool DeleteKey(IRegistry& registry, Prompter& prompter, HKEY root, const std::string& path);

// The machine's classes (HKEY_LOCAL_MACHINE\SOFTWARE\Classes), open with
// `access` while the object lives; Key() is 0 when they cannot be opened so.
// The writer and the remover change them, the store the listing reads, and
// never go through HKEY_CLASSES_ROOT: on Windows that view lays the user's
// own classes (HKEY_CURRENT_USER\Software\Classes) over the machine's, and
// values written through it land among the user's where a key exists there.
class MachineClasses {
 public:
  MachineClasses(IRegistry& registry, REGSAM access);
  HKEY Key() const { return key_.Handle(); }

 private:
  registry::Key key_;
};

// HKEY_LOCAL_MACHINE's path to the machine's classes key `path`.
std::string MachinePath(const std::string& path);

// Whether HKEY_CLASSES_ROOT shows `path` only from the user's own classes:
// it opens there but not among the machine's.
bool UsersOwnKey(IRegistry& registry, const std::string& path);
// Why a change leaves the extension `e` that is the user's alone (UsersOwnKey).
std::string UsersOwnExtension(const std::string& e);

}  // namespace zandrel::store
