#include "freedesktop/GioView.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <map>
#include <set>
#include <tuple>
#include <memory>

#include "freedesktop/DesktopDefaults.h"
#include "freedesktop/DesktopMapping.h"
#include "freedesktop/MimeDatabase.h"
#include "freedesktop/Terminals.h"
#include "registry/Names.h"

namespace zandrel::freedesktop {

namespace {

// Owns what GLib hands over.
struct GFreeText {
  void operator()(gchar* p) const { g_free(p); }
};
using Text = std::unique_ptr<gchar, GFreeText>;
struct GUnref {
  void operator()(gpointer p) const { g_object_unref(p); }
};
using App = std::unique_ptr<GAppInfo, GUnref>;

std::string Str(const gchar* p) { return p != nullptr ? p : ""; }
std::string Take(gchar* p) { return Str(Text(p).get()); }

std::string GuessType(const std::string& extension) {
  gboolean uncertain = FALSE;
  return Take(g_content_type_guess(("x" + extension).c_str(), nullptr, 0, &uncertain));
}

// The default application of `type`, unless it is one of Zandrel's own entries.
App DefaultApp(const std::string& type) {
  App app(g_app_info_get_default_for_type(type.c_str(), FALSE));
  if (!app || !G_IS_DESKTOP_APP_INFO(app.get()) ||
      g_desktop_app_info_has_key(G_DESKTOP_APP_INFO(app.get()), "X-Zandrel-Extension"))
    return nullptr;
  return app;
}

// The first of kTerminals installed here: its path and option; an empty
// path when there is none, and GIO cannot open what such a program would.
std::pair<std::string, std::string> FindTerminal() {
  for (const auto& [name, option] : kTerminals)
    if (std::string path = Take(g_find_program_in_path(name)); !path.empty()) return {path, option};
  return {};
}

bool NeedsTerminal(GAppInfo* app) {
  return g_desktop_app_info_get_boolean(G_DESKTOP_APP_INFO(app), G_KEY_FILE_DESKTOP_KEY_TERMINAL) != FALSE;
}

// The command of a row whose program needs a terminal and has none: marked,
// so that the list does not say it opens anything.
constexpr const char* kNoTerminal = "(нужен эмулятор терминала, его нет) ";

// The command GIO runs for a file: a terminal program's inside its terminal.
std::string AppCommand(GAppInfo* app) {
  GDesktopAppInfo* entry = G_DESKTOP_APP_INFO(app);
  const std::string exec = Take(g_desktop_app_info_get_string(entry, "Exec"));
  EntryFacts facts;
  // Not g_app_info_get_executable: that is the Exec's text up to its first blank, quotes and all.
  facts.program = Take(g_find_program_in_path(ExecProgram(exec).c_str()));
  facts.name = Str(g_app_info_get_name(app));
  facts.icon = Take(g_desktop_app_info_get_string(entry, "Icon"));
  facts.file = Str(g_desktop_app_info_get_filename(entry));
  const std::string command = CommandFromExec(exec, facts);
  if (command.empty() || !NeedsTerminal(app)) return command;
  const auto [terminal, option] = FindTerminal();
  return terminal.empty() ? kNoTerminal + command : "\"" + terminal + "\" " + option + " " + command;
}

std::string AppIcon(GAppInfo* app) {
  GIcon* icon = g_app_info_get_icon(app);
  return icon != nullptr ? Take(g_icon_to_string(icon)) : "";
}

bool UsableKeyName(const std::string& name) {
  return !name.empty() && name.find('\\') == std::string::npos && registry::NameChars(name) <= MAX_KEY_NAME_CHARS;
}

std::string FileText(const std::string& path) {
  gchar* bytes = nullptr;
  gsize size = 0;
  if (!g_file_get_contents(path.c_str(), &bytes, &size, nullptr)) return "";
  std::string text(bytes, size);
  g_free(bytes);
  return text;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

std::vector<ViewRow> ReadDesktopView(const XdgPaths& paths, const std::set<std::string>& described,
                                     const std::set<std::string>* changed) {
  struct TypeFacts {
    bool affected = true;
    bool opened = false;
    std::string description, command, icon, application;
  };
  std::map<std::string, TypeFacts> types;
  std::map<std::string, std::pair<std::string, std::string>> apps;  // id -> command, icon: many types share one
  std::vector<ViewRow> rows;
  for (const auto& [ext, globType] : ReadSystemGlobs(paths, nullptr)) {
    const std::string extension = "." + ext;
    if (!UsableKeyName(extension)) continue;
    const std::string type = GuessType(extension);
    // The projection's own types are the store's rows; those of the desktop's
    // own settings are the desktop's.
    if ((type.rfind(kPrivateTypePrefix, 0) == 0 && type.rfind(kDesktopTypePrefix, 0) != 0) || !UsableKeyName(type))
      continue;
    auto it = types.find(type);
    if (it == types.end()) {
      TypeFacts facts;
      if (changed != nullptr) {
        facts.affected = changed->count(type) != 0;
        for (auto k = changed->begin(); !facts.affected && k != changed->end(); ++k)
          facts.affected = g_content_type_is_a(type.c_str(), k->c_str());
      }
      if (!facts.affected) {
        // Its default cannot have changed: the caller keeps its row.
      } else if (App app = DefaultApp(type)) {
        const std::string id = Str(g_app_info_get_id(app.get()));
        auto known = apps.find(id);
        if (known == apps.end())
          known = apps.emplace(id, std::make_pair(AppCommand(app.get()), AppIcon(app.get()))).first;
        std::tie(facts.command, facts.icon) = known->second;
        facts.application = id;
        facts.opened = !facts.command.empty();
        if (described.count(type) == 0) facts.description = Take(g_content_type_get_description(type.c_str()));
      }
      it = types.emplace(type, std::move(facts)).first;
    }
    if (!it->second.affected) continue;
    if (!it->second.opened) {
      if (changed != nullptr) rows.push_back(ViewRow{extension, "", "", "", "", ""});  // the caller drops its row
      continue;
    }
    const TypeFacts& facts = it->second;
    rows.push_back(ViewRow{extension, type, facts.description, facts.command, facts.icon, facts.application});
  }
  return rows;
}

std::string ExplainExtension(const XdgPaths& paths, const std::string& extension) {
  std::string out;
  const std::string ext = Lower(extension.substr(1));
  std::vector<std::string> mimeFolders{paths.dataHome + "/mime"};
  for (const std::string& dir : paths.dataDirs) mimeFolders.push_back(dir + "/mime");
  bool globbed = false;
  std::set<std::string> said;  // globs2 may hold a line twice (with flags and without)
  for (const std::string& folder : mimeFolders) {
    for (const std::string& line : DataLines(FileText(folder + "/globs2"))) {
      // weight:type:glob[:flags]
      const std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
      if (line.empty() || line[0] == '#' || b == std::string::npos) continue;
      const std::string glob = line.substr(b + 1, line.find(':', b + 1) - b - 1);
      if (Lower(glob) != "*." + ext) continue;
      const std::string step = "glob: " + glob + " -> " + line.substr(a + 1, b - a - 1) + " (weight " +
                               line.substr(0, a) + ", " + folder + "/globs2)\n";
      if (said.insert(step).second) out += step;
      globbed = true;
    }
  }
  if (!globbed) out += "glob: no simple glob *." + ext + " in the MIME database\n";
  const std::string type = GuessType(extension);
  out += "type: GIO guesses " + type + " for a file named x" + extension + "\n";

  App app(g_app_info_get_default_for_type(type.c_str(), FALSE));
  const std::string id = app ? Str(g_app_info_get_id(app.get())) : "";
  bool decided = false;
  std::size_t consulted = 0;
  for (const auto& [file, desktopSpecific] : MimeAppsFiles(paths)) {
    const std::string text = FileText(file);
    if (text.empty()) continue;
    ++consulted;
    out += "mimeapps.list: " + file + "\n";
    std::string section;
    for (const std::string& line : DataLines(text)) {
      if (!line.empty() && line[0] == '[') {
        section = line;
        continue;
      }
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos || line[0] == '#') continue;
      const std::string key = line.substr(0, eq);
      if (!g_content_type_is_a(type.c_str(), key.c_str())) continue;
      const bool own = section == "[Default Applications]";
      if (!own && section != "[Added Associations]" && section != "[Removed Associations]") continue;
      std::string note;
      if (key != type)
        note = g_content_type_is_a(key.c_str(), type.c_str()) ? " (an alias of " + type + ")"
                                                              : " (a parent type of " + type + ")";
      if (desktopSpecific && !own) note += " (ignored: a desktop-specific file sets only defaults)";
      if (!decided && own && !id.empty() && line.find(id, eq) != std::string::npos) {
        note += " <- decides";
        decided = true;
      }
      out += "  " + section + " " + line + note + "\n";
    }
  }
  if (consulted == 0) out += "mimeapps.list: there is none\n";
  if (!app) {
    out += "default: GIO finds no default application for " + type + "\n";
    return out;
  }
  if (!decided) out += "default: no default line names it; " + id + " is the program most preferred for " + type + "\n";
  if (G_IS_DESKTOP_APP_INFO(app.get())) {
    GDesktopAppInfo* entry = G_DESKTOP_APP_INFO(app.get());
    out += "entry: " + Str(g_desktop_app_info_get_filename(entry)) + "\n";
    out += "Exec=" + Take(g_desktop_app_info_get_string(entry, "Exec")) + "\n";
    if (g_desktop_app_info_has_key(entry, "X-Zandrel-Extension"))
      out += "view: " + id + " is Zandrel's own entry, not read back\n";
    if (NeedsTerminal(app.get())) {
      const auto [terminal, option] = FindTerminal();
      out += "terminal: " + id + " needs a terminal (Terminal=true); " +
             (terminal.empty() ? std::string("none is installed, so files of this type do not open")
                               : "GIO runs it in " + terminal + " " + option) +
             "\n";
    }
  }
  return out;
}

}  // namespace zandrel::freedesktop
