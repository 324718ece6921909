// What the tests share: scratch folders, files, a text dump of a registry
// subtree, seeding a classes store, and a prompter that records every box.
#pragma once

#include <deque>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "regfile/RegFile.h"
#include "registry/Subtree.h"
#include "store/Prompter.h"
#include "registry/Registry.h"

namespace zandrel::testing {

// A fresh private folder, on /dev/shm where there is one (a killed process
// loses nothing a disk would keep, and tests stay quick); removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path()/name with the system's separator ("/" in `name` too), as the
  // program builds its own paths.
  std::string File(std::string name) const;
  // Writes Path()/name, making its folders; returns the full path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
// What a shell command prints on its standard output (not in the Windows build).
std::string CommandOutput(const std::string& command);
// tests/data/windows-classes.reg: a Windows machine's classes store, as .reg text.
const std::string& WindowsClassesReg();
// A new hive's seed (hive::OpenHiveSeeded): the .reg `text` imported whole,
// named "default classes store" in its messages.
std::function<status::Status(IRegistry& registry)> SeedOf(std::string text);
void WriteFile(const std::string& path, const std::string& bytes);
std::string Hex(const std::string& bytes);  // "61 62 00"
// `text` with every `from` replaced by `to`.
std::string Replace(std::string text, const std::string& from, const std::string& to);
// UTF-16LE bytes with a BOM, as regedit writes its files.
std::string Utf16File(const std::string& utf8);

// Ends this process at once, as a kill would: no destructors, no handlers.
[[noreturn]] void KillThisProcess();

// The subtree of root\path as text, one line per key and per value (name,
// type, bytes) in enumeration order; a failing call shows as an "error"
// line, so a broken registry never dumps equal to a sound one. Keys deeper
// than maxDepth levels or past the first maxKeys are named only, so that no
// store, however made, can make it run away.
std::string DumpTree(IRegistry& registry, HKEY root, const std::string& path, int maxDepth = 1 << 20,
                     int maxKeys = 1 << 30);
inline std::string DumpClasses(IRegistry& registry) { return DumpTree(registry, HKEY_CLASSES_ROOT, ""); }

// Writes down every key and value a walk hands over.
class Transcript : public registry::SubtreeVisitor {
 public:
  void Key(std::size_t depth, std::string_view name) override {
    text += std::to_string(depth) + " [" + std::string(name) + "]\n";
  }
  void Value(std::string_view name, DWORD type, std::string_view data) override {
    text += "  \"" + std::string(name) + "\" " + std::to_string(type) + ": " + Hex(std::string(data)) + "\n";
  }
  std::string text;
};

// Straight into HKEY_CLASSES_ROOT (or `root`), bypassing the store; each
// returns the code.
LONG SeedKey(IRegistry& registry, const std::string& path, HKEY root = HKEY_CLASSES_ROOT);
LONG SeedValue(IRegistry& registry, const std::string& path, const std::string& name, DWORD type,
               const std::string& data, HKEY root = HKEY_CLASSES_ROOT);
// E -> D, D\shell\open\command = command: the writer's layout without the icon.
void SeedAssociation(IRegistry& registry, const std::string& e, const std::string& d, const std::string& command);

// The signature and IHDR chunk of a PNG: all the headless loader reads.
std::string TinyPng(int width, int height);

// Answers from a script (then IDOK, or IDNO to a question) and records every box.
class RecordingPrompter : public store::Prompter {
 public:
  struct Box {
    std::string text;
    int flags;
    bool operator==(const Box&) const = default;
    friend void PrintTo(const Box& box, std::ostream* out) { *out << box.flags << " \"" << box.text << "\""; }
  };
  RecordingPrompter() = default;
  explicit RecordingPrompter(std::initializer_list<int> answers) : answers_(answers) {}
  void AnswerNext(int answer) { answers_.push_back(answer); }
  std::function<void(const Box&)> onShow;  // runs as each box shows
  std::vector<Box> boxes;
  int settingsOpened = 0;  // OpenDefaultAppsSettings calls

  void OpenDefaultAppsSettings() override { ++settingsOpened; }

  int MsgBox(const std::string& text, int flags) override {
    boxes.push_back(Box{text, flags});
    if (onShow) onShow(boxes.back());
    if (answers_.empty()) return (flags & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

 private:
  std::deque<int> answers_;
};

}  // namespace zandrel::testing
