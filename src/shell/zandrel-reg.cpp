// zandrel-reg: the registry's command-line tool, with reg.exe's verbs over the
// default hive (ZANDREL_HIVE names another file), or in the Windows build over
// the machine's registry (an import is all or nothing there too).
//   zandrel-reg import FILE        .reg file in, all or nothing
//   zandrel-reg export KEY FILE    subtree out, Version 5.00, UTF-16LE
//   zandrel-reg query KEY [/s]     values (and with /s the subtree), reg.exe layout
//   zandrel-reg set .EXT PROGRAM [--all]
//                                  .EXT opens with PROGRAM; a shared title changes for the
//                                  other extensions naming it only with --all
//   zandrel-reg desktop            brings the desktop's associations in line with the store (Linux)
//   zandrel-reg why .EXT           what decides the program that opens .EXT here: on Linux
//                                  the desktop's chain, on Windows the classes keys, the
//                                  user's choice and the command Explorer runs
//   zandrel-reg history            the changes kept, newest first
//   zandrel-reg undo [N]           undoes change N, or the newest change neither undone nor
//                                  an undo (so that undos walk back)
//   zandrel-reg redo               undoes the newest undo not yet undone
// On Linux, query and why read the classes store merged over the desktop's
// own associations; export, import, desktop and undo work on the hive alone
// (an import refuses a file that would change or shadow a desktop's key).
// The verbs that only read never create the hive.
// Exit status 0 on success, 1 on any error with one line on stderr. Each verb
// is an entry of the command table (reg/Verb.h), in a file of its own.
#include <exception>
#include <string>
#include <vector>

#include "shell/reg/Verb.h"

int main(int argc, char** argv) {
  zandrel::shell::reg::PrepareProcess();
  // Nothing is expected to throw; should anything (memory), it ends as one
  // line and status 1 rather than an abort.
  try {
    return zandrel::shell::reg::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return zandrel::shell::reg::Fail(e.what());
  }
}
