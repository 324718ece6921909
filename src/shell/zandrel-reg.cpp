// zandrel-reg: the registry's command-line tool, with reg.exe's verbs over the
// default hive (ZANDREL_HIVE names another file), or in the Windows build over
// the machine's registry (an import is all or nothing there too).
//   zandrel-reg import FILE        .reg file in, all or nothing
//   zandrel-reg export KEY FILE    subtree out, Version 5.00, UTF-16LE
//   zandrel-reg query KEY [/s]     values (and with /s the subtree), reg.exe layout
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
// Exit status 0 on success, 1 on any error with one line on stderr.
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <deque>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include "registry/win32/Win32Api.h"
#include "registry/win32/Win32Registry.h"
#else
#include "registry/hive/Hive.h"
#endif
#include "files/FileReplace.h"
#include "regfile/RegFile.h"
#include "registry/Codes.h"
#include "registry/ForwardingRegistry.h"
#include "registry/Key.h"
#include "registry/KeyPath.h"
#include "registry/Names.h"
#include "shell/RegHistory.h"
#include "shell/RegQuery.h"
#include "store/ChangeRefusal.h"
#include "text/LargePages.h"
#ifdef ZANDREL_HAVE_DESKTOP
#include "desktop/DesktopClasses.h"
#include "desktop/DesktopProjection.h"
#endif

namespace {

using namespace zandrel;

#ifdef ZANDREL_HAVE_DESKTOP
constexpr const char* kUsage =
    "usage: zandrel-reg import FILE | export KEY FILE | query KEY [/s] | desktop | why .EXT | history | undo [N] | redo";
#else
constexpr const char* kUsage =
    "usage: zandrel-reg import FILE | export KEY FILE | query KEY [/s] | why .EXT | history | undo [N] | redo";
#endif

// What --help prints, on standard output.
constexpr const char* kHelp =
    "  import FILE      a .reg file in, all or nothing; lines that would touch the history are left out\n"
    "  export KEY FILE  the key's subtree out as a .reg file (on Linux the hive's keys, not the desktop's)\n"
    "  query KEY [/s]   the key's values, and with /s its subtree\n"
#ifdef ZANDREL_HAVE_DESKTOP
    "  desktop          brings the desktop's associations in line with the store\n"
#endif
    "  why .EXT         what decides the program that opens .EXT here\n"
    "  history          the changes kept, newest first\n"
    "  undo [N]         undoes change N, or the newest change neither undone nor an undo\n"
    "  redo             undoes the newest undo not yet undone\n";

// Writes UTF-8 text to standard output (1) or error (2); false when that fails.
// A Windows console shows it through its wide-character API, whatever its
// code page; files and pipes get UTF-8 on every platform.
bool Write(int stream, const std::string& text) {
#ifdef _WIN32
  return win32::api::WriteStandard(stream, text);
#else
  std::FILE* out = stream == 2 ? stderr : stdout;
  return std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
#endif
}

int Fail(const std::string& message) {
  Write(2, "zandrel-reg: " + message + "\n");
  return 1;
}

// After a successful import, lines whose value regedit leaves out too are
// named on stderr. The first kShownNotes are shown, then their count.
constexpr std::size_t kShownNotes = 20;

// What the import ends in: 0, or 1 with its message, followed by why the
// registry refused it when it said so (`refusal`, store/ChangeRefusal.h).
int Imported(const status::Status& imported, const std::vector<std::string>& notes, const std::string& file,
             const std::string& refusal = "") {
  if (!imported.Ok()) return Fail(imported.message + (refusal.empty() ? "" : ". " + refusal));
  for (std::size_t i = 0; i < notes.size() && i < kShownNotes; ++i) Write(2, "zandrel-reg: " + notes[i] + "\n");
  if (notes.size() > kShownNotes)
    Write(2, "zandrel-reg: " + file + ": " + std::to_string(notes.size() - kShownNotes) + " more lines not imported\n");
  return 0;
}

#ifdef ZANDREL_HAVE_DESKTOP
// The hive, refusing a file whose line would change or shadow one of the
// desktop's own keys before it makes any of it; nor does a file reach the
// classes while the desktop's view cannot be read.
class ViewKeysRefused : public ForwardingRegistry {
 public:
  ViewKeysRefused(IRegistry& hive, desktop::DesktopClasses& classes) : ForwardingRegistry(hive), classes_(classes) {}
  LONG ApplyChanges(const std::deque<registry::Change>& changes, const registry::Change** failed) override {
    if (const LONG code = classes_.RefuseViewKeys(changes, failed); code != ERROR_SUCCESS) {
      unread_ = code == registry::kDesktopViewUnread;
      return code;
    }
    return Target().ApplyChanges(changes, failed);
  }
  // Whether a file was refused for want of the view.
  bool Unread() const { return unread_; }

 private:
  desktop::DesktopClasses& classes_;
  bool unread_ = false;
};
#endif

#ifdef _WIN32
int Import(capture::HistoryRegistry& history, const std::string& file) {
  std::vector<std::string> notes;
  store::RefusalWatch watched(history);
  history.NoteLeftOut(&notes, file);
  const status::Status imported = regfile::ImportRegFile(watched, file, &notes);
  if (imported.Ok()) win32::api::NotifyAssociationsChanged();  // Explorer reads the classes again
  return Imported(imported, notes, file, watched.Text());
}
#endif

int Export(IRegistry& registry, const std::string& key, const std::string& file) {
  std::string bytes;
  const status::Status exported = regfile::ExportRegText(registry, key, &bytes);
  if (!exported.Ok()) return Fail(exported.message);
  const status::Status written = files::ReplaceFileWhole(file, bytes);
  if (!written.Ok()) return Fail(file + ": " + written.message);
  return 0;
}

int Query(IRegistry& registry, const std::string& key_path, bool recurse) {
  HKEY root = 0;
  std::string sub;
  if (!registry::ParseKeyPath(key_path, &root, &sub)) {
    return Fail("unknown root key in \"" + key_path + "\"");
  }
  HKEY key = 0;
  LONG code = registry.RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key);
  if (code == ERROR_FILE_NOT_FOUND) return Fail("the key \"" + key_path + "\" does not exist");
  if (code != ERROR_SUCCESS) {
    return Fail("cannot open the key \"" + key_path + "\": " + registry::DescribeCode(code));
  }
  std::string out;
  bool written = true;
  code = shell::QueryKey(registry, key, std::string(registry::RootName(root)) + (sub.empty() ? "" : "\\" + sub),
                  recurse, &out, &written);
  if (key != root) registry.RegCloseKey(key);
  if (code != ERROR_SUCCESS) {
    return Fail("cannot read the key \"" + key_path + "\": " + registry::DescribeCode(code));
  }
  // On Windows no walk streams (its walk goes through the calls): all of it is in `out`.
  written = written && Write(1, out);
  return written ? 0 : Fail("cannot write the output");
}

// The text of the value `name` of root\path; null when the key or the value
// is not there or the value is not a string.
std::optional<std::string> ValueText(IRegistry& registry, HKEY root, const std::string& path,
                                     const std::string& name = "") {
  registry::Key key(registry);
  if (key.Open(root, path) != ERROR_SUCCESS) return std::nullopt;
  std::vector<registry::Value> values;
  key.Values(&values);
  for (const registry::Value& value : values)
    if (registry::UpperName(value.name) == registry::UpperName(name) && (value.type == REG_SZ || value.type == REG_EXPAND_SZ))
      return value.data.substr(0, value.data.find('\0'));
  return std::nullopt;
}

#ifdef _WIN32
// The machine's and the user's classes keys for the extension, the user's
// choice, and the command Explorer really runs.
int Why(IRegistry& registry, const std::string& extension) {
  std::string out;
  const auto show = [&](const char* label, HKEY root, const std::string& path, const std::string& name = "") {
    const std::optional<std::string> text = ValueText(registry, root, path, name);
    out += std::string(label) + ": " + registry::RootName(root) + "\\" + path + (name.empty() ? "" : " " + name) +
           " -> " + text.value_or("(none)") + "\n";
    return text.value_or("");
  };
  const std::string machine = show("machine", HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + extension);
  if (!machine.empty()) show("machine", HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + machine + "\\shell\\open\\command");
  const std::string user = show("user", HKEY_CURRENT_USER, "Software\\Classes\\" + extension);
  if (!user.empty()) show("user", HKEY_CURRENT_USER, "Software\\Classes\\" + user + "\\shell\\open\\command");
  show("user's choice", HKEY_CURRENT_USER,
       "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + extension + "\\UserChoice", "ProgId");
  std::string command;
  std::int32_t code = 0;
  if (win32::AssociatedCommand(extension, &command, &code)) {
    out += "command (AssocQueryStringA, ASSOCSTR_COMMAND): " + command + "\n";
  } else {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lx", static_cast<unsigned long>(static_cast<std::uint32_t>(code)));
    out += "command (AssocQueryStringA, ASSOCSTR_COMMAND): none (" + std::string(hex) + ")\n";
  }
  // Through the one output path: a console shows Cyrillic titles right.
  return Write(1, out) ? 0 : Fail("cannot write the output");
}
#endif

#ifdef ZANDREL_HAVE_DESKTOP
// After a committed change: the desktop's files brought in line with the
// store. "" or what went wrong.
std::string DesktopFollows(IRegistry& registry) {
  const desktop::ProjectionReport report = desktop::ProjectAssociations(registry, desktop::XdgPaths::FromEnvironment());
  return report.status.Ok() ? std::string() : report.status.message;
}

// That the desktop's associations could not be read, and why (`why`,
// DesktopClasses::ViewError()).
std::string ViewUnread(const std::string& why) { return "the desktop's associations could not be read (" + why + ")"; }

int Desktop(IRegistry& registry) {
  const desktop::ProjectionReport report =
      desktop::ProjectAssociations(registry, desktop::XdgPaths::FromEnvironment());
  if (!report.status.Ok()) return Fail(report.status.message);
  return Write(1, std::to_string(report.projected) + " associations open files on this desktop, " +
                      std::to_string(report.skipped) + " have no program here; " +
                      std::to_string(report.filesChanged) + " files changed\n")
             ? 0
             : Fail("cannot write the output");
}

std::string DefaultText(IRegistry& registry, const std::string& path) {
  return ValueText(registry, HKEY_CLASSES_ROOT, path).value_or("");
}

std::string StoreRow(IRegistry& registry, const std::string& extension) {
  const std::string title = DefaultText(registry, extension);
  if (title.empty()) return "no row";
  return extension + " -> " + title + " -> " + DefaultText(registry, title + "\\shell\\open\\command");
}

// The desktop's chain for the extension, then the row the store shows and
// whose it is, and the desktop's row that Zandrel's own shadows, if any.
int Why(IRegistry& hive, const std::string& extension) {
  const std::string helper = desktop::HelperBesideProgram();
  desktop::DesktopClasses classes(hive, desktop::XdgPaths::FromEnvironment(), desktop::HelperReader(helper));
  std::string chain, error;
  if (!desktop::RunHelper(helper, {"why", extension}, "", &chain, &error)) return Fail(error);
  std::string out = chain;
  const bool desktops = classes.KeyOnlyInDesktopView(HKEY_CLASSES_ROOT, extension.c_str());
  if (!classes.ViewError().empty()) {
    Write(1, out);
    return Fail(classes.ViewError());
  }
  out += "store: " + StoreRow(classes, extension);
  if (desktops) out += " (the desktop's, " + classes.ViewRowFor(extension)->application + ")\n";
  else if (DefaultText(hive, extension).empty()) out += "\n";
  else out += " (Zandrel's own)\n";
  const std::optional<desktop::ViewRow> row = classes.ViewRowFor(extension);
  if (!desktops && row)
    out += "shadowed: the desktop's " + row->extension + " -> " + row->type + " -> " + row->command + " (" +
           row->application + ")\n";
  return Write(1, out) ? 0 : Fail("cannot write the output");
}
#endif

// The extension of a file named "x" + `arg`: "..png" is ".png"; "" when
// `arg` is none (no dot first, nothing after the dots, or a character no
// file name's extension holds: a separator of keys or folders, a control).
std::string WhyExtension(const std::string& arg) {
  const std::size_t dots = arg.find_first_not_of('.');
  if (arg.empty() || arg[0] != '.' || dots == std::string::npos) return "";
  for (const unsigned char c : arg)
    if (c == '\\' || c == '/' || c < 0x20 || c == 0x7F) return "";
  return arg.substr(dots - 1);
}

// `arg` with its control characters as \xNN, to be shown on one line.
std::string Shown(const std::string& arg) {
  std::string out;
  for (const unsigned char c : arg) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c < 0x20 || c == 0x7F ? std::string(hex) : std::string(1, static_cast<char>(c));
  }
  return out;
}

int Run(const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  bool recurse = false;
  if (verb == "query" && args.size() == 3) {
    if (args[2] != "/s" && args[2] != "/S") return Fail(kUsage);
    recurse = true;
  }
  const bool shape_ok = (verb == "import" && args.size() == 2) ||
                        (verb == "export" && args.size() == 3) ||
                        (verb == "query" && (args.size() == 2 || args.size() == 3));
#ifdef ZANDREL_HAVE_DESKTOP
  if (verb == "desktop" && args.size() == 1) {
    std::unique_ptr<hive::HiveRegistry> registry;
    // It writes the desktop's files from the store, never the store.
    const status::Status opened = hive::OpenDefaultHiveForReading(&registry);
    return opened.Ok() ? Desktop(*registry) : Fail(opened.message);
  }
#endif
  if (verb == "--help" || verb == "-h" || verb == "/?")
    return Write(1, std::string(kUsage) + "\n" + kHelp) ? 0 : Fail("cannot write the output");
  std::string extension;
  if (verb == "why" && args.size() == 2) {
    extension = WhyExtension(args[1]);
    if (extension.empty()) return Fail("not an extension: \"" + Shown(args[1]) + "\" (give it with its dot, as .txt)");
  }
#ifdef ZANDREL_HAVE_DESKTOP
  if (verb == "why" && args.size() == 2) {
    std::unique_ptr<hive::HiveRegistry> registry;
    const status::Status opened = hive::OpenDefaultHiveForReading(&registry);
    return opened.Ok() ? Why(*registry, extension) : Fail(opened.message);
  }
#endif
#ifdef _WIN32
  if (verb == "why" && args.size() == 2) {
    zandrel::win32::Win32Registry registry;  // reads only: no undo record needed
    return Why(registry, extension);
  }
#endif
  const bool history_verb = ((verb == "history" || verb == "redo") && args.size() == 1) ||
                            (verb == "undo" && args.size() <= 2);
  if (!shape_ok && !history_verb) return Fail(kUsage);
  const bool undoing = verb == "undo" || verb == "redo";
  unsigned change = 0;
  if (undoing && !shell::UndoNumber(args.size() == 2 ? std::optional(args[1]) : std::nullopt, Write, &change)) return 1;
#ifndef _WIN32
  if (verb == "import") {
    // The hive writes what a file adds in a few statements rather than
    // several per line. Into a hive that does not exist yet, the file goes
    // in while the new hive is still private: written once, and all or
    // nothing all the same (a file that fails leaves no hive). Either way
    // the import is kept in the history.
    std::vector<std::string> notes;
    std::string refusal;
    const auto import_into = [&args, &notes, &refusal](hive::HiveRegistry& hive) {
#ifdef ZANDREL_HAVE_DESKTOP
      // A line that would change or shadow one of the desktop's own keys
      // refuses the file: the hive would hide the desktop's association for
      // good. Its view is computed only for a file that reaches the classes.
      desktop::DesktopClasses classes(hive, desktop::XdgPaths::FromEnvironment(),
                                      desktop::HelperReader(desktop::HelperBesideProgram()));
      ViewKeysRefused refusing(hive, classes);
      capture::HistoryRegistry history(refusing);
#else
      capture::HistoryRegistry history(hive);
#endif
      history.Describe("import", args[1]);
      notes.clear();
      history.NoteLeftOut(&notes, args[1]);
      // Another writer shows at the transaction's start, which passes the watch.
      store::RefusalWatch watched(history);
      const status::Status imported = regfile::ImportRegFile(watched, args[1], &notes);
      refusal = watched.Text();
#ifdef ZANDREL_HAVE_DESKTOP
      if (refusing.Unread()) refusal = "Why: " + classes.ViewError();
#endif
      return imported;
    };
    bool built = false;
    std::unique_ptr<hive::HiveRegistry> registry;
    const status::Status opened = hive::OpenDefaultHive(import_into, &built, &registry);
    int code = 0;
    if (built) {
      code = Imported(status::Status(), notes, args[1]);  // the new hive holds the file
    } else {
      if (!opened.Ok()) return Fail(opened.message);  // also the failure of the file in a new hive
      const status::Status imported = import_into(*registry);
      code = Imported(imported, notes, args[1], refusal);
      if (!imported.Ok()) return code;
    }
#ifdef ZANDREL_HAVE_DESKTOP
    // The desktop's files follow the store, as after an undo.
    if (const std::string error = DesktopFollows(*registry); !error.empty()) return Fail(error);
#endif
    return code;
  }
#endif
#ifdef _WIN32
  std::unique_ptr<IRegistry> registry;
  const status::Status opened = win32::OpenWindowsRegistry(win32::DefaultUndoPlace(), &registry);
#else
  // Only an undo writes here: the others read an existing hive and make
  // none. Without a hive there is nothing to undo, and none is made either.
  const std::string hivePath = hive::DefaultHivePath();
  if (undoing && ::access(hivePath.c_str(), F_OK) != 0 && errno == ENOENT)
    return shell::UndoFromCommandLine(nullptr, change, verb == "redo" ? store::Newest::kUndo : store::Newest::kChange,
                                      Write, {});
  std::unique_ptr<hive::HiveRegistry> registry;
  const status::Status opened = undoing ? hive::OpenHive(hivePath, &registry)
                                        : hive::OpenHiveForReading(hivePath, &registry);
#endif
  if (!opened.Ok()) return Fail(opened.message);
  if (verb == "history") return shell::ShowHistory(*registry, Write);
  capture::HistoryRegistry history(*registry);
  if (verb == "undo" || verb == "redo") {
    std::function<std::string()> after;
#ifdef ZANDREL_HAVE_DESKTOP
    // The desktop's files follow the store, as after an add or a removal.
    after = [&registry] { return DesktopFollows(*registry); };
#endif
#ifdef _WIN32
    // Explorer reads the classes again, as after an import.
    after = [] {
      win32::api::NotifyAssociationsChanged();
      return std::string();
    };
#endif
    return shell::UndoFromCommandLine(&history, change, verb == "redo" ? store::Newest::kUndo : store::Newest::kChange,
                                      Write, after);
  }
#ifdef _WIN32
  if (verb == "import") {
    history.Describe("import", args[1]);
    return Import(history, args[1]);
  }
#endif
#ifdef ZANDREL_HAVE_DESKTOP
  // An export is a backup of what Zandrel holds: the desktop's own keys are
  // the desktop's to keep, and, imported back into the hive, would hide its
  // associations for good. They are left out; a key that is the desktop's
  // alone is named as such.
  if (verb == "export") {
    HKEY root = 0, key = 0;
    std::string sub;
    if (registry::ParseKeyPath(args[1], &root, &sub) && !sub.empty() &&
        registry->RegOpenKeyExA(root, sub.c_str(), 0, KEY_READ, &key) == ERROR_FILE_NOT_FOUND) {
      desktop::DesktopClasses classes(*registry, desktop::XdgPaths::FromEnvironment(),
                                      desktop::HelperReader(desktop::HelperBesideProgram()));
      if (classes.KeyOnlyInDesktopView(root, sub.c_str()))
        return Fail("the key \"" + args[1] + "\" is the desktop's own association, which an export leaves out");
      // Not the hive's: whether it is the desktop's cannot be told.
      if (!classes.ViewError().empty()) Fail(ViewUnread(classes.ViewError()));
    }
    if (key != 0) registry->RegCloseKey(key);
    registry->PrepareWalk();
    return Export(*registry, args[1], args[2]);
  }
  // The classes store's first view of the desktop is computed by the helper
  // (a process of its own) while this one reads the hive.
  HKEY root = 0;
  std::string sub;
  const bool classes_too = registry::ParseKeyPath(args[1], &root, &sub) && root != HKEY_CURRENT_USER && root != HKEY_USERS;
  const desktop::ViewReader reader = desktop::HelperReader(desktop::HelperBesideProgram());
  using View = std::pair<std::optional<std::vector<desktop::ViewRow>>, std::string>;
  std::future<View> first;
  if (classes_too) first = std::async(std::launch::async, [&reader] {
    View view;
    view.first = reader(desktop::ViewRequest{}, &view.second);
    return view;
  });
  if (recurse) registry->PrepareWalk();
  desktop::DesktopClasses classes(
      *registry, desktop::XdgPaths::FromEnvironment(),
      [&first, &reader](const desktop::ViewRequest& request, std::string* error) {
        if (!first.valid() || !request.described.empty() || request.changed) return reader(request, error);
        View view = first.get();
        *error = view.second;
        return std::move(view.first);
      });
  IRegistry& store = classes;
#else
  IRegistry& store = *registry;
#endif
  if (verb == "export") return Export(store, args[1], args[2]);
  const int queried = Query(store, args[1], recurse);
#ifdef ZANDREL_HAVE_DESKTOP
  if (classes_too && !classes.ViewError().empty())
    Fail(ViewUnread(classes.ViewError()) + ": only Zandrel's own keys are shown");
#endif
  return queried;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  win32::api::LoadDllsFromSystem32Only();
#endif
#ifdef __linux__
  // The whole-store work fills tens of megabytes of heap once (a parsed
  // file, SQLite's pages): on large pages, where first touching a 4 KB page
  // is dear (virtual machines), that no longer takes a third of an import.
  text::PutHeapOnLargePages();
#endif
  // Nothing is expected to throw; should anything (memory), it ends as one
  // line and status 1 rather than an abort.
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
