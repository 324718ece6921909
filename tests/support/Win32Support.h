// The Windows build's test support. Tests of the real registry each get an
// empty classes store of their own: this process's HKEY_LOCAL_MACHINE is
// redirected to a fresh key HKEY_CURRENT_USER\Software\ZandrelTests\<name>,
// HKEY_CLASSES_ROOT to its SOFTWARE\Classes and HKEY_CURRENT_USER to its User
// (RegOverridePredefKey), so both roots still reach the same classes keys and
// nothing outside that key is touched.
#pragma once

#include <string>

namespace zandrel::testing {

// Drops this process's previous sandbox, makes `name` and redirects into it.
// The last one is dropped at exit.
void EnterRegistrySandbox(const std::string& name);
// Redirects into the existing sandbox `name` of another process (a child
// working on its parent's store), which stays its owner's to drop.
// `user` names the key that stands in for its HKEY_CURRENT_USER: another
// user of the same machine.
void JoinRegistrySandbox(const std::string& name, const std::string& user = "User");

// The full path of this program's executable.
std::string ThisProgram();
bool RunningUnderWine();

// The DACL of a file or folder, as SDDL; and sets it (protected) from SDDL.
// Wine keeps no DACL on files: it
// answers one made from the Unix mode, and sets the mode from one.
std::string FileDescriptor(const std::string& path);
bool SetFileDescriptor(const std::string& path, const std::string& sddl);
// This process's user, as a SID string.
std::string ThisUserSid();

// The application manifest built into `program` ("" when it has none).
std::string ManifestOf(const std::string& program);

}  // namespace zandrel::testing
