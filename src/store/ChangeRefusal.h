// Why a change of the associations was refused, when the registry's code
// says it in terms the user can act on: another copy holds the lock (170,
// ERROR_BUSY: the hive or the Windows lock, after its bounded wait), or, on
// Windows, the change needs an administrator (5, ERROR_ACCESS_DENIED). The
// one place where those codes become the program's words; the messages that
// name the failing step stay as they are, and this follows them.
#pragma once

#include <string>

#include "registry/ForwardingRegistry.h"

namespace zandrel::store {

// The explanation of `code` in the program's Russian, one sentence or two;
// "" for a code that does not tell the user what to do (on Linux also 5: it
// comes from a read-only hive or the desktop's own keys, not from rights an
// administrator has).
std::string RefusalText(LONG code);

// Passes every call on and keeps the first code that RefusalText explains:
// 170 from any call, 5 from a call that changes the registry or opens a key
// to change it (a read refused does not stop a change, and is no reason to
// ask for an administrator).
class RefusalWatch : public ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;

  // The code kept; 0 when none came.
  LONG Code() const { return code_; }
  // RefusalText(Code()).
  std::string Text() const { return RefusalText(code_); }

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                     HKEY* phkResult) override;
  LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD* lpcchName, DWORD* lpReserved,
                     char* lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override;
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName,
                     DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
  LONG ExtensionsNamingTitle(const char* title, std::vector<std::string>* extensions) override;
  // A bulk write's code is a changing call's.
  ZANDREL_REGISTRY_WRITE_OVERRIDES;

 private:
  // Keeps `code` when it is the first to keep; returns it.
  LONG Note(LONG code, bool changing);

  LONG code_ = 0;
};

}  // namespace zandrel::store
