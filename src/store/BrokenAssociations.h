// The associations that open nothing here: an extension naming a title that
// is not there, a title with no open command, an open command whose program
// is missing or cannot run; then what the desktop finds among its own
// (integration::Desktop::FindBroken). Only reads. Each finding says where it
// lives and whether Zandrel may remove it, for a clean-up to act on.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "integration/Desktop.h"
#include "registry/Registry.h"

namespace zandrel::store {

using integration::BrokenAssociation;

// The reason codes of the store's own findings.
inline constexpr const char* kTitleMissing = "title-missing";
inline constexpr const char* kNoOpenCommand = "no-open-command";
inline constexpr const char* kProgramMissing = "program-missing";
inline constexpr const char* kProgramNotExecutable = "program-not-executable";

enum class ProgramState { kRuns, kMissing, kNotExecutable };

// Whether the programs commands name are here, each path asked of the system
// once. A name without a folder is looked for as the system looks for it (on
// Windows in System32, the Windows folder, then PATH, ".exe" added to a name
// without an extension; elsewhere in PATH). On Linux a Windows path
// (C:\..., a backslash) is simply missing.
class ProgramProbe {
 public:
  // The state of the program `path` names (variables already expanded);
  // *found, when given, gets the file that was found.
  ProgramState State(const std::string& path, std::string* found = nullptr);
  // How many paths were asked of the system so far.
  std::size_t Asked() const { return asked_; }

 private:
  struct Known {
    ProgramState state;
    std::string file;
  };
  ProgramState FileState(const std::string& file);
  std::unordered_map<std::string, Known> names_;
  std::unordered_map<std::string, ProgramState> files_;
  std::size_t asked_ = 0;
};

// The program a command runs, read as Windows reads it: a quoted first word,
// or else the shortest run of words that names an existing file; %NAME%
// expanded on Windows. When none is found, `program` is the run that ends in
// ".exe" (or ".com", ".bat", ".cmd"), or else the first word, and the state
// says why. A command that runs the file itself ("%1") runs.
struct CommandProgram {
  std::string program;
  ProgramState state = ProgramState::kRuns;
};
CommandProgram ReadCommandProgram(const std::string& command, ProgramProbe& probe);

// What a check found.
struct CheckResult {
  std::vector<BrokenAssociation> broken;  // the store's, in enumeration order, then the desktop's
  std::vector<std::string> unknown;       // named extensions with no association, each an error line
  std::string failure;                    // "" or why the store could not be read: then nothing else counts
};

// Checks every association of the machine's classes read through `registry`
// (or only `extensions`, ".e" each, as typed), then asks `desktop` (may be
// null) for its own. An extension key of the desktop's own is left to it.
CheckResult FindBrokenAssociations(IRegistry& registry, const std::vector<std::string>& extensions,
                                   integration::Desktop* desktop, ProgramProbe& probe);

// One finding as a line, in the program's words: "EXT: REASON (DETAIL)".
std::string BrokenLine(const BrokenAssociation& broken);
// The error line of a named extension with no association.
std::string NoAssociation(const std::string& e);

}  // namespace zandrel::store
