#include "regfile/RegParser.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "regfile/RegLexer.h"
#include "text/CodePage.h"
#include "text/LargePages.h"
#include "text/Utf.h"

namespace zandrel::regfile {
namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader31 = "REGEDIT";
constexpr std::string_view kClassesRoot = "HKEY_CLASSES_ROOT";

// The failure's text for byte `bad` of `bytes`, which is no character of the code page.
std::string NotInCodePage(std::string_view bytes, std::size_t bad, unsigned code_page) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", bad < bytes.size() ? static_cast<unsigned char>(bytes[bad]) : 0u);
  return "the text is neither UTF-8 nor in code page " + std::to_string(code_page) + " (byte " + hex +
         "): nothing is imported";
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  void Run(RegParse* out) {
    out_ = out;
    std::string_view header;
    if (!NextLine(&header) || !ReadHeader(SkipBlanks(header))) {
      Fail(1, "not a registry file: the first line must be \"" + std::string(kHeader5) + "\", \"" +
                  std::string(kHeader4) + "\" or \"" + std::string(kHeader31) + "\"");
      return;
    }
    std::string_view line;
    while (!failed_ && NextLine(&line)) {
      if (win31_) {
        Win31Line(line);
        continue;
      }
      const std::string_view s = SkipBlanks(line);
      if (s.empty() || s.front() == ';' || s.front() == '#') continue;
      if (s.front() == '[') {
        KeyLine(s.substr(1));
      } else if (s.front() == '@' || s.front() == '"') {
        ValueLine(s);
      } else {
        Note(line_, "neither a key, a value nor a comment: not imported");
      }
    }
    out_->ok = !failed_;
  }

  // Whether string data given in hex is UTF-16LE, as in regedit's Unicode
  // files; otherwise it is in the ANSI code page.
  bool utf16_strings = false;
  unsigned code_page = 0;

 private:
  // The next line without its end (CR LF, CR or LF); a NUL ends its text. A
  // line end at the very end of the file starts no further line.
  bool NextLine(std::string_view* line) {
    if (done_) return false;
    ++line_;
    const std::size_t end = LineEnd(text_, pos_);
    if (end == std::string_view::npos) {
      *line = text_.substr(pos_);
      done_ = true;
    } else {
      *line = text_.substr(pos_, end - pos_);
      pos_ = end + 1;
      if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      done_ = pos_ == text_.size();
    }
    if (const std::size_t nul = line->find('\0'); nul != std::string_view::npos) *line = line->substr(0, nul);
    return true;
  }

  bool ReadHeader(std::string_view h) {
    if (h == kHeader5) {
      utf16_strings = true;
    } else if (h == kHeader31) {
      win31_ = true;
    } else if (h != kHeader4) {
      // regedit also takes "REGEDIT" followed by anything, and imports nothing.
      return false;
    }
    return true;
  }

  void Fail(int line, std::string what) {
    if (failed_) return;
    failed_ = true;
    out_->line = line;
    out_->what = std::move(what);
  }

  void Note(int line, std::string what) { out_->notes.push_back(RegNote{line, std::move(what)}); }

  void Add(registry::Change change) {
    change.line = change.line ? change.line : line_;
    out_->changes.push_back(change);
  }

  // "[" has been read. regedit ignores a key line that does not close, or
  // whose name starts with a blank, and then puts the values that follow
  // under the key before it: here such a line is an error instead.
  void KeyLine(std::string_view p) {
    const std::size_t close = p.rfind(']');
    if (close == std::string_view::npos) return Fail(line_, "a key line must end with \"]\"");
    if (Blank(p.front())) return Fail(line_, "the key name must follow \"[\" directly");
    std::string_view name = p.substr(0, close);
    if (name.empty()) return Fail(line_, "the key name is missing");
    const bool remove = !name.empty() && name.front() == '-';
    if (remove) {
      name.remove_prefix(1);
      key_open_ = false;
      if (name.empty() || (name.front() != 'H' && name.front() != 'h')) {
        Note(line_, "not a key that can be deleted: nothing deleted");
        return;
      }
    }
    HKEY root = 0;
    std::string_view path;
    if (!ParseRoot(name, &root, &path))
      return Fail(line_, "unknown root key \"" + std::string(name.substr(0, name.find('\\'))) + "\"");
    if (remove && path.empty()) return Fail(line_, "a root key cannot be deleted");
    registry::Change change;
    change.kind = remove ? registry::Change::kDeleteKey : registry::Change::kKey;
    change.root = root;
    change.path = path;
    Add(change);
    key_open_ = !remove;
  }

  // A Windows 3.1 line: "HKEY_CLASSES_ROOT\path = text" sets the key's
  // default value; any other line is passed over.
  void Win31Line(std::string_view line) {
    if (line.substr(0, kClassesRoot.size()) != kClassesRoot) {
      if (!SkipBlanks(line).empty()) Note(line_, "not a HKEY_CLASSES_ROOT line: not imported");
      return;
    }
    const std::size_t key_end = line.find_first_of(" \t\v\f");
    const std::string_view name = line.substr(0, key_end);
    std::string_view value = key_end == std::string_view::npos ? std::string_view() : SkipBlanks(line.substr(key_end));
    if (!value.empty() && value.front() == '=') value.remove_prefix(1);
    if (!value.empty() && value.front() == ' ') value.remove_prefix(1);  // at most one space
    HKEY root = 0;
    std::string_view path;
    if (!ParseRoot(name, &root, &path))
      return Fail(line_, "unknown root key \"" + std::string(name.substr(0, name.find('\\'))) + "\"");
    registry::Change key;
    key.root = root;
    key.path = path;
    Add(key);
    registry::Change set;
    set.kind = registry::Change::kSetValue;
    set.type = REG_SZ;
    char* data = out_->text.Take(value.size() + 1);
    std::copy(value.begin(), value.end(), data);
    data[value.size()] = '\0';
    set.data = std::string_view(data, value.size() + 1);
    Add(set);
  }

  // A line that starts with "@" or a quote.
  void ValueLine(std::string_view s) {
    const int line = line_;
    std::string& name = name_;
    name.clear();
    std::string_view rest = s.substr(1);
    if (s.front() == '"') {
      char odd = 0;
      if (Unquote(s.substr(1), &name, &rest, &odd) != Quote::kClosed)
        return Note(line, "the value name does not end with a quote: not imported");
      if (odd != 0) Note(line, std::string("\"\\") + odd + "\" read as \"" + odd + "\"");
    }
    rest = SkipBlanks(rest);
    if (rest.empty() || rest.front() != '=') return Note(line, "no \"=\" after the value name: not imported");
    rest = TrimTrailingBlanks(SkipBlanks(rest.substr(1)));

    if (!rest.empty() && rest.front() == '-') {
      if (!EndsHere(rest.substr(1))) return Note(line, "text after \"=-\": not deleted");
      if (!key_open_) return Note(line, "a value outside a key section: not deleted");
      registry::Change change;
      change.kind = registry::Change::kDeleteValue;
      change.name = out_->text.Keep(name);
      return Add(change);
    }
    std::string& data = data_;
    data.clear();
    std::string_view kept;  // the data when already in the arena
    DWORD type = REG_SZ;
    if (!rest.empty() && rest.front() == '"') {
      char odd = 0;
      std::string_view after;
      if (Unquote(rest.substr(1), &data, &after, &odd) != Quote::kClosed)
        return Note(line, "the text does not end with a quote: not imported");
      if (!EndsHere(after)) return Note(line, "text after the closing quote: not imported");
      if (odd != 0) Note(line, std::string("\"\\") + odd + "\" read as \"" + odd + "\"");
      data.push_back('\0');
    } else if (rest.substr(0, 6) == "dword:") {
      // Up to eight digits, then the end or a comment.
      std::string_view d = SkipBlanks(rest.substr(6));
      std::size_t n = 0;
      std::uint32_t v = 0;
      for (; n < d.size() && HexDigit(d[n]) >= 0; ++n) v = v * 16 + static_cast<std::uint32_t>(HexDigit(d[n]));
      if (d.empty() || n > 8 || !EndsHere(d.substr(n)))
        return Note(line, "a dword needs 1 to 8 hex digits: not imported");
      type = REG_DWORD;
      for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    } else if (rest.substr(0, 4) == "hex:" || rest.substr(0, 4) == "hex(") {
      std::string_view h = rest.substr(4);
      type = REG_BINARY;
      if (rest[3] == '(') {
        std::uint64_t t = 0;
        // As regedit: "0x" is refused, and no number at all ("hex():") is 0.
        const bool prefixed = h.size() >= 2 && (h[1] == 'x' || h[1] == 'X');
        const std::size_t n = ReadNumber(h, &t);
        if (h.empty() || prefixed || t >= kTooLarge || h.substr(n, 2) != "):")
          return Note(line, "a hex type must read hex(N): with N in hex: not imported");
        type = static_cast<DWORD>(t);
        h.remove_prefix(n + 2);
      }
      if (!HexData(h, type, line, &data, &kept)) return;
    } else {
      return Note(line, "unknown value data \"" + std::string(rest.substr(0, 20)) + "\": not imported");
    }
    if (!key_open_) return Note(line, "a value outside a key section: not imported");
    registry::Change change;
    change.kind = registry::Change::kSetValue;
    change.line = line;
    change.name = out_->text.Keep(name);
    change.type = type;
    change.data = kept.data() != nullptr ? kept : out_->text.Keep(data);
    Add(change);
  }

  enum class Hex { kEnd, kMore, kBad };

  // Bytes of one line of hex data, "01,02,..." (each a number of at most
  // 0xFF as strtoul reads it), ending at the line's end, at a comment, or at
  // "\" which continues the data on the next line.
  static Hex HexRun(std::string_view s, std::string* bytes) {
    while (!s.empty()) {
      std::uint64_t v = 0;
      const std::size_t n = ReadNumber(s, &v);
      if (n == 0) {
        const std::string_view e = SkipBlanks(s);
        if (!e.empty() && e.front() == '\\') return EndsHere(e.substr(1)) ? Hex::kMore : Hex::kBad;
        return !e.empty() && e.front() == ';' ? Hex::kEnd : Hex::kBad;
      }
      if (v > 0xFF) return Hex::kBad;
      bytes->push_back(static_cast<char>(v));
      s.remove_prefix(n);
      if (!s.empty() && s.front() != ',') return EndsHere(s) ? Hex::kEnd : Hex::kBad;
      if (!s.empty()) s.remove_prefix(1);
    }
    return Hex::kEnd;
  }

  // Reads hex data from `h` and the lines it continues on. Blank and comment
  // lines inside the data are passed over; data that continues past the end
  // of the file ends there with the bytes read so far, as regedit stores it.
  // regedit leaves the value out when the data is malformed, or continues
  // onto a line that does not start with a hex digit (that line too is taken
  // as part of the broken value and not read).
  // *kept is set when the data was converted into the arena.
  bool HexData(std::string_view h, DWORD type, int line, std::string* bytes, std::string_view* kept) {
    if (h.empty()) return true;  // "hex:" alone: no data
    for (;;) {
      const Hex run = HexRun(h, bytes);
      if (run == Hex::kBad) {
        Note(line, "the hex data is not bytes separated by commas: not imported");
        return false;
      }
      if (run == Hex::kEnd) break;
      std::string_view next;
      do {
        if (!NextLine(&next)) return FinishString(type, line, bytes, kept);
      } while (EndsHere(next));
      h = SkipBlanks(next);
      if (HexDigit(h.front()) < 0) {
        if (h.front() == '[') {
          // regedit would put the values after it under the key before it.
          Fail(line_, "a key line where the hex data of line " + std::to_string(line) + " goes on");
          return false;
        }
        Note(line, "the hex data goes on to line " + std::to_string(line_) +
                       ", which holds no hex data: neither is imported");
        return false;
      }
    }
    return FinishString(type, line, bytes, kept);
  }

  // String types given in hex get their terminating NUL when it is missing
  // and are stored in the ANSI code page.
  bool FinishString(DWORD type, int line, std::string* bytes, std::string_view* kept) {
    if ((type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) || bytes->empty()) return true;
    if (!utf16_strings) {
      if (bytes->back() != '\0') bytes->push_back('\0');
      if (text::IsWellFormedUtf8(*bytes)) return true;
      std::string utf8;
      std::size_t bad = 0;
      if (!text::AppendCodePageAsUtf8(*bytes, code_page, &utf8, &bad)) {
        Fail(line, NotInCodePage(*bytes, bad, code_page));
        return false;
      }
      *kept = out_->text.Keep(utf8);
      return true;
    }
    if (bytes->size() % 2 != 0) {
      Fail(line, "UTF-16 text data has an odd number of bytes");
      return false;
    }
    if ((*bytes)[bytes->size() - 1] != '\0' || (*bytes)[bytes->size() - 2] != '\0') bytes->append(2, '\0');
    *kept = Utf16BytesToUtf8(*bytes, &out_->text);
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool done_ = false;
  int line_ = 0;
  RegParse* out_ = nullptr;
  bool failed_ = false;
  bool win31_ = false;
  bool key_open_ = false;
  std::string name_, data_;  // a value line's, kept for the next
};

}  // namespace

RegParse ParseRegText(std::string_view bytes, unsigned ansi_code_page) {
  RegParse result;
  std::string_view text = bytes;
  bool utf16 = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    // Whole UTF-16 units only: an odd last byte is not read, as by regedit.
    text = Utf16BytesToUtf8(bytes.substr(2, (bytes.size() - 2) / 2 * 2), &result.text);
    utf16 = true;
    result.points_into_bytes = false;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  } else if (!text::IsWellFormedUtf8(text)) {
    // regedit reads 8-bit files in the system's ANSI code page. A file that
    // is UTF-8 throughout is taken as UTF-8 (as written on Linux): text in a
    // Windows code page almost never is.
    std::string utf8;
    std::size_t bad = 0;
    if (!text::AppendCodePageAsUtf8(text, ansi_code_page, &utf8, &bad)) {
      result.line = 1;
      for (std::size_t end = LineEnd(text, 0); end != std::string_view::npos && end < bad;
           end = LineEnd(text, end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1)))
        ++result.line;
      result.what = NotInCodePage(text, bad, ansi_code_page);
      return result;
    }
    text = result.text.Keep(utf8);
    result.points_into_bytes = false;
  }
  Parser parser(text);
  parser.utf16_strings = utf16;
  parser.code_page = ansi_code_page;
  parser.Run(&result);
  return result;
}

}  // namespace zandrel::regfile
