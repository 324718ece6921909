// zandrel-reg's command table: one entry per verb, each in a file of its own
// (Verb*.cpp). The table makes the usage line and the --help text, checks the
// number of arguments, opens the program's stack (assembly/Stack.h) as the
// verb asks, runs it, and, for a verb that changes the associations, has the
// desktop follow once it succeeded. Nothing here depends on the system: what
// differs lives in the assembly and the desktop's seam.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "assembly/Stack.h"

namespace zandrel::shell::reg {

// What the table opens before the verb runs.
enum class Opens {
  kNothing,   // the verb opens what it needs itself (into Call::stack, for the desktop to follow)
  kLook,      // assembly::Mode::kLook
  kRead,      // assembly::Mode::kRead
  kExisting,  // the store where there is one (kWrite for a verb that records history, else kRead);
              // where there is none, nothing, and no stack
};

struct Call {
  std::vector<std::string> args;           // after the verb
  std::unique_ptr<assembly::Stack> stack;  // as the verb's Opens says; may be null
  bool changed = true;                     // cleared by a verb that changed nothing: the desktop is not told
};

struct Verb {
  const char* name;
  const char* arguments;            // as the usage line shows them ("KEY FILE"), "" for none
  const char* help;                 // the --help line's text
  std::size_t least = 0, most = 0;  // how many arguments it takes
  Opens opens = Opens::kNothing;
  // Its changes are kept in the history (Stack::History), so that they can
  // be undone: what it opens, it opens for writing.
  bool recordsHistory = false;
  // Once it succeeded having changed something (Call::changed), the desktop
  // follows (integration::Desktop::AfterChange); a desktop that could not
  // fails the verb with its line.
  bool followsDesktop = false;
  // Checks the arguments before anything is opened; false once it has
  // written its failure. May be null.
  bool (*check)(const std::vector<std::string>& args) = nullptr;
  int (*run)(Call& call) = nullptr;
  // Whether the verb exists on this system; null: everywhere.
  bool (*available)() = nullptr;
};

// The verbs, in the usage line's order.
Verb ImportVerb();
Verb ExportVerb();
Verb QueryVerb();
Verb DesktopVerb();
Verb WhyVerb();
Verb CheckVerb();
Verb SetVerb();
Verb PreferVerb();
Verb HistoryVerb();
Verb UndoVerb();
Verb RedoVerb();

// Runs zandrel-reg with its arguments (the verb first); its exit status.
int Run(const std::vector<std::string>& args);

// Writes UTF-8 text to standard output (1) or error (2); false when that
// fails. A Windows console shows it through its wide-character API, whatever
// its code page; files and pipes get UTF-8 on every system (Console*.cpp).
bool Write(int stream, const std::string& text);
// "zandrel-reg: MESSAGE" on standard error; 1.
int Fail(const std::string& message);
// What ends an output line: reg.exe's CR LF on Windows, LF elsewhere, as the
// system's own tools.
const char* LineEnd();
// Writes each line to standard output, ended as LineEnd() says; false when
// that fails.
bool WriteLines(const std::vector<std::string>& lines);
// The process's set-up before anything runs (Console*.cpp).
void PrepareProcess();

// The usage line: "usage: zandrel-reg import FILE | ...".
std::string Usage();
// The reasons the desktop's associations went unread (`why`, Desktop::ViewError).
std::string ViewUnread(const std::string& why);

}  // namespace zandrel::shell::reg
