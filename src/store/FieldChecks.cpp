#include "store/FieldChecks.h"

#include <algorithm>

#include "store/FileExists.h"

namespace zandrel::store {

namespace {

// What no file name can hold, and so no extension a file could have. The
// removal refuses only the separator: a key that an older add made with one
// of the others must still go.
constexpr const char* kNotInFileNames = "\\*?<>:\"/|";

}  // namespace

bool HoldsSeparator(const std::string& name) { return name.find('\\') != std::string::npos; }

bool ControlIn(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return (c > 0 && c < 32) || c == 127; });
}

std::string ExtensionFieldRefusal(const std::string& e, bool adding) {
  if (e.size() == 1) return "Введите имя расширенния";
  if (const std::size_t at = e.find_first_of(adding ? kNotInFileNames : "\\"); at != std::string::npos)
    return "Расширение не может содержать знак " + e.substr(at, 1) + ": " + e;
  if (adding && ControlIn(e))
    return "Расширение не может содержать управляющие знаки (табуляцию, перевод строки): их не бывает в именах "
           "файлов.";
  // Windows drops a file name's trailing dots (its spaces are trimmed here
  // already): "a.zq." is "a.zq", and no file would ever have the extension.
  if (adding && e.back() == '.')
    return "Расширение не может кончаться точкой: " + e + " Windows отбрасывает её в именах файлов.";
  return "";
}

std::string ProgramFieldRefusal(const std::string& p) {
  if (p.empty()) return "Не тормози!Выбери программу для ассациации.";
  if (!FileExists(p)) return p + " где ты его видишь?Ламер.";
  return "";
}

std::string ProgramControlRefusal(const std::string& p) {
  if (!ControlIn(p)) return "";
  // Shown escaped, so that the message stays one line and says where it is.
  std::string shown;
  for (const char c : p) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') shown += "\\n";
    else if (c == '\t') shown += "\\t";
    else if (c == '\r') shown += "\\r";
    else if (u < 32 || u == 127) shown += std::string("\\x") + "0123456789abcdef"[u >> 4] + "0123456789abcdef"[u & 15];
    else shown += c;
  }
  return "В пути к программе " + shown + " есть управляющий знак, его не передать в команде.";
}

std::string OpenCommand(const std::string& p) { return "\"" + p + "\" \"%1\""; }

}  // namespace zandrel::store
