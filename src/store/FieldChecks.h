// The entry fields' own checks, shared by the changes that take them (the
// add, the removal, the change of a program): each gives the message that
// tells the user what is wrong, or "" when the field will do. They read
// nothing of the registry.
#pragma once

#include <string>

namespace zandrel::store {

// A key name cannot hold the path separator: "a\b" would reach another key.
bool HoldsSeparator(const std::string& name);

// Whether a text holds a control character (1 to 31, 127), which no file
// name and no title a user meant to type holds.
bool ControlIn(const std::string& s);

// The prepared extension `e` (PrepareExtension): "" or why it is refused.
// Stricter for the add (`adding`): a change of an existing key refuses only
// the separator, so that a key an older add made stays reachable.
std::string ExtensionFieldRefusal(const std::string& e, bool adding);

// The program `p` (the field as ProgramPath reads it): "" or why it is
// refused: none given, or no file that opens for reading.
std::string ProgramFieldRefusal(const std::string& p);

// The program `p` when its path holds a control character: why it is
// refused (no open command carries one to the desktop's files, whose lines
// it would break); "" otherwise.
std::string ProgramControlRefusal(const std::string& p);

// The open command that runs the program `p` on a file: "P" "%1", quoted
// as the shell writes it.
std::string OpenCommand(const std::string& p);

}  // namespace zandrel::store
