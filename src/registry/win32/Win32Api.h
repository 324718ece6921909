// The few Windows calls the registry realisation makes, with fixed-width types
// only: <windows.h> defines as macros the names the registry interface declares
// as constants, so it stays inside Win32Api.cpp. Codes are Win32 error codes,
// passed through unchanged; handles are real HKEYs and HANDLEs as integers.
#pragma once

#include <cstdint>
#include <string>

namespace zandrel::win32::api {

using Handle = std::uintptr_t;  // a real HKEY or HANDLE; 0 is none

// The real predefined key for one of the interface's roots (0x80000000 ...),
// sign-extended as Windows defines it; 0 for any other value.
Handle PredefinedKey(std::uint32_t root);

std::int32_t OpenKey(Handle parent, const char* path, std::uint32_t sam, Handle* out);
std::int32_t CreateKey(Handle parent, const char* path, std::uint32_t sam, Handle* out, std::uint32_t* disposition);
std::int32_t EnumKey(Handle key, std::uint32_t index, char* name, std::uint32_t* name_length);
std::int32_t EnumValue(Handle key, std::uint32_t index, char* name, std::uint32_t* name_length, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* data_size);
std::int32_t SetValue(Handle key, const char* name, std::uint32_t type, const std::uint8_t* data, std::uint32_t size);
std::int32_t DeleteKey(Handle parent, const char* path);
std::int32_t DeleteValue(Handle key, const char* name);
std::int32_t CloseKey(Handle key);
// Reads a value by name. *data receives exactly the stored bytes.
std::int32_t QueryValue(Handle key, const char* name, std::uint32_t* type, std::string* data);

// The lock that keeps changes of the machine's classes apart: the file at
// `path`, opened shared with no one, made with a DACL that lets only SYSTEM
// and administrators open it at all, in a folder only they may write. No
// other user can make it first, open it or hold it; a holder that dies lets
// go. Answers 0 with the lock held (*out: the handle to close to let go), 170
// (ERROR_BUSY) while another holds it, 5 (ERROR_ACCESS_DENIED) to a copy
// without an administrator's rights.
std::int32_t TakeAdministratorsLock(const std::string& path, Handle* out);
void CloseHandleValue(Handle handle);

// Whether this process runs with an administrator's full rights (elevated).
bool Elevated();

// The machine's application data folder (CSIDL_COMMON_APPDATA, %ProgramData%), or "".
std::string CommonAppDataFolder();
// Makes a folder only SYSTEM and administrators may write (its own protected
// DACL; users may read). 183 (ERROR_ALREADY_EXISTS) when it exists.
std::int32_t MakeAdministratorsFolder(const std::string& path);
// Whether only SYSTEM and administrators may change the file or folder at
// `path`: 0 when its owner is the administrators, SYSTEM or (an elevated
// copy's own) this process's user, and its DACL lets no one else write,
// delete, or change its owner or DACL; 1307 (ERROR_INVALID_OWNER) for any
// other owner; 1336 (ERROR_INVALID_ACL) when others may write; 2 when it is
// not there; other codes when its descriptor cannot be read.
std::int32_t CheckAdministratorsOnly(const std::string& path);

// Writes the key's changes to disk (RegFlushKey).
std::int32_t FlushKey(Handle key);

// Arms a change notice on `key` (RegNotifyChangeKeyValue, asynchronous):
// `event` (made here when 0) is set once anything below the key changes,
// names or values. WatchFired tells, without waiting, whether it was set.
std::int32_t WatchKey(Handle key, Handle* event);
bool WatchFired(Handle event);

// The text of an indirect string ("@shell32.dll,-154"), as
// SHLoadIndirectString resolves it: 0, or the HRESULT's value.
std::int32_t LoadIndirectString(const std::string& source, std::string* text);

// The undo record's file operations. Readers and the writer share the file
// both ways, so that a copy that only looks never stands in a change's way.
// OpenForAppend opens (or creates) it for appending; AppendDurably returns
// only once the bytes are on disk (FlushFileBuffers). ReadWholeFile answers 2
// for a missing file. RemoveFile frees the name at once also while a reader
// holds the file: it is renamed aside, then deleted; 0 also when already gone.
std::int32_t OpenForAppend(const std::string& path, Handle* file);
std::int32_t AppendDurably(Handle file, const std::string& bytes);
std::int32_t ReadWholeFile(const std::string& path, std::string* bytes);
std::int32_t RemoveFile(const std::string& path);

std::uint32_t ProcessId();
void Sleep(std::uint32_t ms);

// Makes every DLL this process loads later by name come from System32 alone
// (SetDefaultDllDirectories), never from the program's folder or the PATH,
// where anyone may have put one beside a program run elevated. Each program
// calls it first thing. It cannot guard the DLLs the program imports, which
// the loader has found before any code runs: those are all KnownDLLs, which
// come from System32 whatever the folder holds (tests/shell/KnownDllsTest.sh).
void LoadDllsFromSystem32Only();

// Writes UTF-8 text to standard output (1) or standard error (2). A console
// gets it through its wide-character API, so Cyrillic reads right whatever
// the console's code page; a file or a pipe gets the UTF-8 bytes themselves.
// False when the write fails.
bool WriteStandard(int stream, const std::string& text);

// Makes HKEY_LOCAL_MACHINE\machine_path ("SOFTWARE\Zandrel") a key only
// SYSTEM and administrators may open, it and its subkeys (a protected DACL
// of theirs, inherited below it): created so, or, when it exists with
// another DACL, set so, the subkeys it has included. 0 when it is so; 5 for
// a process that is not elevated (it may neither create nor change it).
std::int32_t RestrictMachineKey(const std::string& machine_path);
// The key's DACL as SDDL text ("D:P(A;CI;KA;;;SY)...").
std::int32_t MachineKeyDacl(const std::string& machine_path, std::string* sddl);

}  // namespace zandrel::win32::api
