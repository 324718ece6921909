#include "registry/Codes.h"

namespace zandrel::registry {

std::string DescribeCode(LONG code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return "not found (error 2)";
    case ERROR_ACCESS_DENIED:
#ifdef _WIN32
      // The machine's classes: only an administrator's elevated process may
      // write them, and the tool runs with its prompt's rights.
      return "access denied (error 5): run it from an elevated prompt (Run as administrator)";
#else
      return "access denied (error 5)";
#endif
    case ERROR_INVALID_PARAMETER: return "a name is too long or the key is nested too deep (error 87)";
    case ERROR_DISK_FULL: return "the disk is full (error 112)";
    case ERROR_BAD_PATHNAME: return "bad key path (error 161)";
    case ERROR_BUSY:
#ifdef _WIN32
      // The lock another copy holds while it changes the machine's classes.
      return "another copy of Zandrel is changing the associations (error 170)";
#else
      return "the hive is busy in another process (error 170)";
#endif
    case ERROR_BADDB: return "the hive is damaged (error 1009)";
    case ERROR_CANTOPEN: return "a subkey cannot be opened by the name it is listed under (error 1011)";
    case ERROR_REGISTRY_IO_FAILED: return "the hive could not be read or written (error 1016)";
    case kOutsideChangedKeys:
      return "outside the keys Zandrel changes, the classes and its own history (error 536870914)";
    case kDamagedRecord:
      return "the undo record of an unfinished change is damaged and is not replayed: check the classes, then "
             "delete it (error 536870915)";
    case kProgramsOwnKey: return "the program's own history, which no change may touch (error 536870916)";
    case kDesktopsOwnKey:
      return "the desktop's own association, which Zandrel shows but does not change: change it in the desktop's "
             "settings or with xdg-mime default (error 536870917)";
    case kDesktopViewUnread:
      return "the desktop's associations could not be read, and Zandrel changes no association while it cannot see "
             "them (error 536870918)";
    default: return "error " + std::to_string(code);
  }
}

}  // namespace zandrel::registry
