// The scripts the conformance table is written in: each step a registry
// call with the code and the outputs it must give; every buffer is filled
// with 0xBD first and must be untouched past what the call may write.
//
// Steps are separated by ";". Bases: HKCR HKLM HKCU HKU, h1..h9 (handles kept
// with "as hN"), bogus, null. Strings are "quoted" (\\ \" \0 \xHH; "ab"*3
// repeats); null is a null pointer. Access: read, write, all, or 0x3F.
// Types: sz expand binary dword multi.
//   create|open BASE PATH [ACCESS] -> CODE [disp N] [as hN] [is BASE]
//   set H NAME TYPE DATA [SIZE] -> CODE     delval H NAME -> CODE
//   delkey BASE PATH -> CODE                close H -> CODE
//   enumkey H INDEX SIZE -> CODE [NAME]     (on 234 the length stays SIZE)
//   enumval H INDEX NAMESIZE DATASIZE|null [sametype] -> CODE [size N] [NAME [TYPE DATA [nul]]]
//     (nul: a NUL written after the data, not counted; on 234, NAME is what
//     the name buffer holds, or untouched; no DATA: the data buffer untouched)
//   begin|commit -> CODE; rollback
//   keys|values BASE PATH = "a|@|b"         (names in enumeration order, @ the default)
//   naming TITLE = "a|b" -> CODE            (ExtensionsNamingTitle, the same through
//                                            the plain calls)
//   @2 STEP runs the step on a second instance.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "registry/Key.h"
#include "registry/Registry.h"

namespace zandrel::testing {

inline constexpr BYTE kSentinel = 0xBD;
inline constexpr std::size_t kBuffer = 1040;

inline std::string Join(const std::vector<std::string>& names) {
  std::string joined;
  for (std::size_t i = 0; i < names.size(); ++i) joined += (i == 0 ? "" : "|") + names[i];
  return joined;
}

inline std::string Repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

// The steps of a script, each a list of tokens; a quoted token keeps a
// leading '"' to tell it from a word.
inline std::vector<std::vector<std::string>> Parse(const std::string& script) {
  std::vector<std::vector<std::string>> steps(1);
  for (std::size_t i = 0; i < script.size();) {
    if (script[i] == ' ' || script[i] == '\n') {
      ++i;
    } else if (script[i] == ';') {
      steps.emplace_back();
      ++i;
    } else if (script[i] == '"') {
      std::string text = "\"";
      for (++i; script[i] != '"'; ++i) {
        if (script[i] != '\\') {
          text += script[i];
        } else if (script[++i] == '0') {
          text += '\0';
        } else if (script[i] == 'x') {
          text += static_cast<char>(std::stoi(script.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          text += script[i];
        }
      }
      if (script[++i] == '*') {
        std::size_t used = 0;
        text = "\"" + Repeat(text.substr(1), std::stoi(script.substr(i + 1), &used));
        i += 1 + used;
      }
      steps.back().push_back(text);
    } else {
      const std::size_t end = std::min(script.find_first_of(" \n;", i), script.size());
      steps.back().push_back(script.substr(i, end - i));
      i = end;
    }
  }
  return steps;
}

class ScriptRunner {
 public:
  ScriptRunner(IRegistry& first, IRegistry* second) : first_(first), second_(second) {}

  // Runs each step; the handles kept stay for the next script.
  void Run(const std::string& script) {
    for (const auto& step : Parse(script)) {
      std::string text;
      for (const std::string& t : step) text += (text.empty() ? "" : " ") + t.substr(0, 40);
      SCOPED_TRACE(text);
      Step(step);
    }
  }

  void Step(const std::vector<std::string>& step) {
    t_ = step;
    at_ = 0;
    IRegistry& r = Peek() == "@2" && Next().size() ? *second_ : first_;
    const std::string op = Next();
    if (op == "create" || op == "open") {
      const HKEY base = Base();
      const std::string path = Next();
      const REGSAM access = Peek() == "read"    ? (Next(), KEY_READ)
                            : Peek() == "write" ? (Next(), KEY_WRITE)
                            : Peek() == "all"   ? (Next(), KEY_ALL_ACCESS)
                                                : KEY_ACCESS_0x3F;
      HKEY out = 0xDEAD;
      DWORD disposition = 0;
      const char* p = path == "null" ? nullptr : path.c_str() + (path[0] == '"');
      if (Code(op == "create" ? r.RegCreateKeyExA(base, p, 0, "", 0, access, nullptr, &out, &disposition)
                              : r.RegOpenKeyExA(base, p, 0, access, &out)) != 0) {
        // Except that opening under a null key leaves it as it was.
        EXPECT_EQ(out, op == "open" && base == 0 ? HKEY{0xDEAD} : 0u) << "the handle out on failure";
      }
      while (!Peek().empty()) {
        const std::string what = Next();
        if (what == "disp") {
          EXPECT_EQ(disposition, std::stoul(Next()));
        }
        if (what == "as") handles_[Next()] = out;
        if (what == "is") {
          EXPECT_EQ(out, Base());
        }
      }
    } else if (op == "set") {
      const HKEY key = Base();
      const std::string name = Text(), type = Next(), data = Text();
      const DWORD size = Peek() != "->" ? std::stoul(Next()) : data.size();
      Code(r.RegSetValueExA(key, name.c_str(), 0, Type(type), reinterpret_cast<const BYTE*>(data.data()), size));
    } else if (op == "delval") {
      const HKEY key = Base();
      Code(r.RegDeleteValueA(key, Text().c_str()));
    } else if (op == "delkey") {
      const HKEY key = Base();
      const std::string path = Next();
      Code(r.RegDeleteKeyA(key, path == "null" ? nullptr : path.c_str() + (path[0] == '"')));
    } else if (op == "close") {
      Code(r.RegCloseKey(Base()));
    } else if (op == "begin" || op == "commit") {
      Code(op == "begin" ? r.BeginTransaction() : r.CommitTransaction());
    } else if (op == "rollback") {
      r.RollbackTransaction();
    } else if (op == "enumkey" || op == "enumval") {
      Enum(r, op == "enumkey");
    } else if (op == "keys" || op == "values") {
      const HKEY base = Base();
      const std::string path = Text();
      Next();  // "="
      EXPECT_EQ(Names(r, base, path, op == "keys"), Text());
    } else if (op == "naming") {
      const std::string title = Text();
      Next();  // "="
      const std::string expected = Text();
      for (bool plain : {false, true}) {
        std::vector<std::string> names{"stale"};
        Code(plain ? r.IRegistry::ExtensionsNamingTitle(title.c_str(), &names)
                   : r.ExtensionsNamingTitle(title.c_str(), &names));
        at_ -= plain ? 0 : 2;  // the code once more
        EXPECT_EQ(Join(names), expected) << (plain ? "through the plain calls" : "");
      }
    } else {
      ADD_FAILURE() << "unknown step " << op;
    }
  }

 private:
  const std::string& Peek() const { return at_ < t_.size() ? t_[at_] : kNone; }
  const std::string& Next() { return at_ < t_.size() ? t_[at_++] : kNone; }
  std::string Text() {
    const std::string& token = Next();
    return token.empty() || token[0] != '"' ? token : token.substr(1);
  }
  HKEY Base() {
    static const std::map<std::string, HKEY> fixed = {{"HKCR", HKEY_CLASSES_ROOT}, {"HKLM", HKEY_LOCAL_MACHINE},
                                                      {"HKCU", HKEY_CURRENT_USER}, {"HKU", HKEY_USERS},
                                                      {"bogus", 0x7654320},        {"null", 0}};
    const std::string& token = Next();
    return fixed.count(token) != 0 ? fixed.at(token) : handles_[token];
  }
  static DWORD Type(const std::string& token) {
    static const std::map<std::string, DWORD> types = {{"sz", REG_SZ},
                                                       {"expand", REG_EXPAND_SZ},
                                                       {"binary", REG_BINARY},
                                                       {"dword", REG_DWORD},
                                                       {"multi", REG_MULTI_SZ}};
    return types.count(token) != 0 ? types.at(token) : std::stoul(token);
  }
  LONG Code(LONG code) {  // reads "-> CODE" and checks it
    EXPECT_EQ(Next(), "->");
    EXPECT_EQ(code, std::stol(Next()));
    return code;
  }
  static bool Untouched(const BYTE* b, std::size_t from) {
    while (from < kBuffer && b[from] == kSentinel) ++from;
    return from == kBuffer;
  }

  void Enum(IRegistry& r, bool keys) {
    const HKEY key = Base();
    const DWORD index = std::stoul(Next(), nullptr, 0), nameSize = std::stoul(Next());
    const std::string dataSize = keys ? "0" : Next();
    // "sametype": the type is asked into the data's size, one variable for both.
    const bool sameType = !keys && Peek() == "sametype" && Next().size();
    BYTE name[kBuffer], data[kBuffer];
    std::memset(name, kSentinel, kBuffer);
    std::memset(data, kSentinel, kBuffer);
    DWORD length = nameSize, size = dataSize == "null" ? 0 : std::stoul(dataSize), type = 0xDEAD;
    char* n = reinterpret_cast<char*>(name);
    const LONG code = Code(keys ? r.RegEnumKeyExA(key, index, n, &length, nullptr, nullptr, nullptr, nullptr)
                                : r.RegEnumValueA(key, index, n, &length, nullptr, sameType ? &size : &type,
                                                  dataSize == "null" ? nullptr : data, &size));
    if (Peek() == "size" && Next().size()) {
      EXPECT_EQ(size, std::stoul(Next())) << "the size reported";
    }
    if (code == ERROR_MORE_DATA) {
      EXPECT_EQ(length, nameSize) << "the length changed on 234";
    }
    if (code != ERROR_SUCCESS && Peek().empty()) {
      EXPECT_TRUE(Untouched(name, 0) && Untouched(data, 0)) << "a buffer written on " << code;
      return;
    }
    if (Peek().empty()) return;
    const std::string expected = Text();
    if (code == ERROR_SUCCESS || expected != "untouched") {
      if (code != ERROR_SUCCESS) length = static_cast<DWORD>(strnlen(n, kBuffer));
      EXPECT_EQ(std::string(n, length), expected);
      EXPECT_EQ(name[length], 0) << "no NUL after the name";
      EXPECT_TRUE(Untouched(name, length + 1)) << "bytes written past the name's NUL";
    } else {
      EXPECT_TRUE(Untouched(name, 0)) << "the name buffer written on " << code;
    }
    if (keys) return;
    if (Peek().empty()) {
      EXPECT_TRUE(Untouched(data, 0)) << "the data buffer written";
      return;
    }
    EXPECT_EQ(type, Type(Next()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), Text());
    const bool nul = Peek() == "nul" && Next().size();
    if (nul) {
      EXPECT_EQ(data[size], 0) << "no NUL after the value";
    }
    EXPECT_TRUE(Untouched(data, size + nul)) << "bytes written past the value";
  }

  static std::string Names(IRegistry& r, HKEY base, const std::string& path, bool keys) {
    registry::Key key(r);
    if (LONG code = key.Open(base, path); code != ERROR_SUCCESS) return "error " + std::to_string(code);
    std::vector<std::string> names;
    std::vector<registry::Value> values;
    const LONG code = keys ? key.SubKeys(&names) : key.Values(&values);
    for (const registry::Value& v : values) names.push_back(v.name.empty() ? "@" : v.name);
    return Join(names) + (code != ERROR_SUCCESS ? "|error " + std::to_string(code) : "");
  }

  inline static const std::string kNone;
  IRegistry& first_;
  IRegistry* second_;
  std::map<std::string, HKEY> handles_;
  std::vector<std::string> t_;
  std::size_t at_ = 0;
};

// Runs each step of `script` on `registry` (and "@2" steps on `second`).
inline void RunScript(IRegistry& registry, const std::string& script, IRegistry* second = nullptr) {
  ScriptRunner(registry, second).Run(script);
}

}  // namespace zandrel::testing
