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
std::int32_t CreateKey(Handle parent, const char* path, std::uint32_t sam, Handle* out,
                       std::uint32_t* disposition);
std::int32_t EnumKey(Handle key, std::uint32_t index, char* name, std::uint32_t* name_length);
std::int32_t EnumValue(Handle key, std::uint32_t index, char* name, std::uint32_t* name_length,
                       std::uint32_t* type, std::uint8_t* data, std::uint32_t* data_size);
std::int32_t SetValue(Handle key, const char* name, std::uint32_t type, const std::uint8_t* data,
                      std::uint32_t size);
std::int32_t DeleteKey(Handle parent, const char* path);
std::int32_t DeleteValue(Handle key, const char* name);
std::int32_t CloseKey(Handle key);
// Reads a value by name. *data receives exactly the stored bytes.
std::int32_t QueryValue(Handle key, const char* name, std::uint32_t* type, std::string* data);

// A named mutex, created or opened, that every interactive user's process
// (elevated or not, in any session) may wait on and release: SYSTEM and
// administrators have all rights, interactive users SYNCHRONIZE and
// MUTEX_MODIFY_STATE, and its low integrity label keeps no level out. Wait
// answers 0 when held (also when its last holder died holding it), 170
// (ERROR_BUSY) on timeout.
std::int32_t CreateSharedMutex(const char* name, Handle* out);
std::int32_t WaitMutex(Handle mutex, std::uint32_t timeout_ms);
void ReleaseMutexHandle(Handle mutex);
void CloseHandleValue(Handle handle);

// The machine's application data folder (CSIDL_COMMON_APPDATA, %ProgramData%), or "".
std::string CommonAppDataFolder();
// Makes a folder only SYSTEM and administrators may write (its own protected
// DACL; users may read); 0 also when it exists.
std::int32_t MakeAdministratorsFolder(const std::string& path);
// Whether the file's owner is the administrators, SYSTEM or this process's
// user: a record someone else left is not trusted with the machine's classes.
bool TrustedOwner(const std::string& path);

// The command AssocQueryStringA(ASSOCSTR_COMMAND) reports for the "open" verb
// of the extension (".txt"): what Explorer runs. 0, or the HRESULT's value.
std::int32_t AssocOpenCommand(const char* extension, std::string* command);

// The undo record's file operations. AppendDurably returns only once the bytes
// are on disk (FlushFileBuffers). ReadWholeFile answers 2 for a missing file.
std::int32_t AppendDurably(const std::string& path, const std::string& bytes);
std::int32_t ReadWholeFile(const std::string& path, std::string* bytes);
std::int32_t RemoveFile(const std::string& path);  // 0 also when already gone

std::uint32_t ProcessId();

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
