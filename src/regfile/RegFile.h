// .reg files as regedit reads and writes them, over any IRegistry.
//
// Import reads what regedit reads, the way it reads it (RegParser.h):
// "Windows Registry Editor Version 5.00" files (UTF-16LE with a BOM, or UTF-8
// with or without one), "REGEDIT4" files and "REGEDIT" files of Windows 3.1
// lines; an 8-bit file that is not UTF-8 throughout is in the system's ANSI
// code page (1251 on a Russian system), as regedit reads it.
// Export writes Version 5.00: UTF-16LE with a BOM, CRLF, sections in
// enumeration order. A string that the quoted form would not give back byte
// for byte (one holding NUL, CR or LF) is written as hex(1):, which regedit
// reads back unchanged.
//
// Registry strings are kept in the program's ANSI code page (UTF-8); the string types
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) written as hex in a Unicode file are
// UTF-16LE there, as on Windows, and are converted on the way in and out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "registry/Registry.h"
#include "status/Status.h"

namespace zandrel::regfile {

// Imports a whole .reg text in one registry transaction: all of it lands, or
// nothing does. file_name is used only in messages, each one line: a file
// regedit refuses fails with kInvalid "FILE, line N: what is wrong", a
// change the registry refuses with kFailed "FILE, line N: " and the change
// with its code described ("FILE: ..." when the fault is no line's). Lines
// whose value regedit leaves out too are added to *notes (when not null),
// "FILE, line N: why"; the rest of the file is imported all the same. The
// changes are made with the registry's ApplyChanges.
status::Status ImportRegText(IRegistry& registry, std::string_view bytes, const std::string& file_name,
                             std::vector<std::string>* notes = nullptr);

// Reads the file and imports it as ImportRegText does. A file that cannot be
// read fails with the reader's code (files/FileRead.h) and "PATH: " and why.
status::Status ImportRegFile(IRegistry& registry, const std::string& path, std::vector<std::string>* notes = nullptr);

// Exports the key at `key_path` and its whole subtree as Version 5.00 bytes
// (UTF-16LE with BOM), read with the registry's WalkSubtree.
// Fails with kInvalid "unknown root key in \"KEY\"", or kFailed "cannot open
// (read) the key \"KEY\": " and the registry's code described.
status::Status ExportRegText(IRegistry& registry, const std::string& key_path, std::string* bytes);

}  // namespace zandrel::regfile
