// zandrel-reg query KEY [/s]: the key's values, and with /s its subtree, in
// reg.exe's layout. The classes are read as the programs see them (on Linux
// merged over the desktop's own associations), whose first view is computed
// by the helper (a process of its own) while this one reads the store.
#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "registry/Codes.h"
#include "registry/Key.h"
#include "registry/KeyPath.h"
#include "registry/Names.h"
#include "registry/Subtree.h"
#include "shell/reg/Verb.h"

namespace zandrel::shell::reg {
namespace {

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_UNKNOWN";
  }
}

// Appends a value's data as reg.exe shows it.
void AppendData(DWORD type, std::string_view data, std::string* out) {
  char buffer[32];
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: out->append(data.substr(0, data.find('\0'))); return;
    case REG_MULTI_SZ: {
      // Strings separated by \0, as reg.exe shows them.
      bool first = true;
      for (std::size_t start = 0; start < data.size();) {
        const std::size_t end = std::min(data.find('\0', start), data.size());
        if (end == start) break;
        if (!first) out->append("\\0");
        first = false;
        out->append(data.substr(start, end - start));
        start = end + 1;
      }
      return;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
      if (data.size() == 4) {
        unsigned long v = 0;
        for (int i = 0; i < 4; ++i) {
          const int at = type == REG_DWORD ? 3 - i : i;
          v = (v << 8) | static_cast<unsigned char>(data[at]);
        }
        out->append(buffer, static_cast<std::size_t>(std::snprintf(buffer, sizeof buffer, "0x%lx", v)));
        return;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        unsigned long long v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
        out->append(buffer, static_cast<std::size_t>(std::snprintf(buffer, sizeof buffer, "0x%llx", v)));
        return;
      }
      break;
    default: break;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  for (unsigned char c : data) out->append({kDigits[c >> 4], kDigits[c & 15]});
}

const std::string_view kEol = LineEnd();

void AppendValueLine(std::string_view name, DWORD type, std::string_view data, std::string* out) {
  out->append("    ").append(name.empty() ? std::string_view("(Default)") : name).append("    ");
  out->append(TypeName(type)).append("    ");
  AppendData(type, data, out);
  out->append(kEol);
}

// reg.exe's layout of a subtree: each key's block is its path, its values,
// and an empty line that ends it (scripts split reg.exe's output on it).
// With a `stream`, the text goes out to it whenever kChunk bytes are ready
// rather than all at the end: memory touched once costs more than writing.
class QueryWriter : public registry::SubtreeVisitor {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 20;

  QueryWriter(std::string title, std::string* out, std::FILE* stream)
      : path_(std::move(title)), out_(*out), stream_(stream) {}

  void Key(std::size_t depth, std::string_view name) override {
    const std::string& path = path_.Enter(depth, name);
    if (stream_ != nullptr && out_.size() >= kChunk) Flush();
    out_.append(blocks_++ > 0 ? kEol : "").append(path).append(kEol);
  }
  void Value(std::string_view name, DWORD type, std::string_view data) override {
    AppendValueLine(name, type, data, &out_);
  }
  void Expect(std::size_t keys, std::size_t values, std::size_t bytes) override {
    const std::size_t size = out_.size() + keys * (path_.Title().size() + 96) + values * 40 + bytes * 3;
    out_.reserve(stream_ != nullptr ? std::min(size, 2 * kChunk) : size);
  }
  // Ends the last block. False when the stream could not be written.
  bool Finish() {
    if (blocks_ > 0) out_.append(kEol);
    if (stream_ != nullptr) Flush();
    return written_;
  }

 private:
  void Flush() {
    written_ = written_ && std::fwrite(out_.data(), 1, out_.size(), stream_) == out_.size();
    out_.clear();
  }

  registry::WalkPath path_;
  std::string& out_;
  std::size_t blocks_ = 0;
  std::FILE* stream_;
  bool written_ = true;
};

// Prints one key in reg.exe's layout, then the paths of its subkeys; with
// recurse, its subtree instead, read with the registry's WalkSubtree. What *out holds
// at the end goes to stdout; *written is false when writing it out already
// failed.
LONG QueryKey(IRegistry& registry, HKEY key, const std::string& title, bool recurse, std::string* out, bool* written) {
  out->append(kEol);
  if (recurse) {
    // A walk of the hive hands over nothing before it has read everything
    // (and fails later only on a damaged file), so that its text can go out
    // as it is made; the calls' walk may fail part-way, and then nothing is
    // printed.
    QueryWriter writer(title, out, registry.WalkReadsWholeFirst() ? stdout : nullptr);
    const LONG code = registry.WalkSubtree(key, writer);
    if (code == ERROR_SUCCESS) *written = writer.Finish();
    return code;
  }
  std::vector<registry::Value> values;
  std::vector<std::string> children;
  if (LONG code = registry::ReadValues(registry, key, &values); code != ERROR_SUCCESS) return code;
  if (LONG code = registry::ReadSubKeys(registry, key, &children); code != ERROR_SUCCESS) return code;
  out->append(title).append(kEol);
  for (const registry::Value& value : values) AppendValueLine(value.name, value.type, value.data, out);
  out->append(kEol);
  for (const std::string& child : children) out->append(title).append("\\").append(child).append(kEol);
  return ERROR_SUCCESS;
}

bool Check(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[1] != "/s" && args[1] != "/S") {
    Fail(Usage());
    return false;
  }
  return true;
}

int Query(IRegistry& registry, const std::string& key_path, bool recurse) {
  HKEY root = 0;
  std::string sub;
  if (!registry::ParseKeyPath(key_path, &root, &sub)) {
    return Fail("unknown root key in \"" + key_path + "\"");
  }
  registry::Key key(registry);
  LONG code = key.Open(root, sub);
  if (code == ERROR_FILE_NOT_FOUND) return Fail("the key \"" + key_path + "\" does not exist");
  if (code != ERROR_SUCCESS) {
    return Fail("cannot open the key \"" + key_path + "\": " + registry::DescribeCode(code));
  }
  std::string out;
  bool written = true;
  code = QueryKey(registry, key.Handle(), std::string(registry::RootName(root)) + (sub.empty() ? "" : "\\" + sub),
                  recurse, &out, &written);
  key.Close();
  if (code != ERROR_SUCCESS) {
    return Fail("cannot read the key \"" + key_path + "\": " + registry::DescribeCode(code));
  }
  // Where no walk streams (Windows), all of it is in `out`.
  written = written && Write(1, out);
  return written ? 0 : Fail("cannot write the output");
}

int Query(Call& call) {
  const std::string& key_path = call.args[0];
  const bool recurse = call.args.size() == 2;
  HKEY root = 0;
  std::string sub;
  const bool classes = registry::ParseKeyPath(key_path, &root, &sub) && root != HKEY_CURRENT_USER && root != HKEY_USERS;
  assembly::Options options;
  options.viewAhead = classes;
  if (const status::Status opened = assembly::Open(assembly::Mode::kRead, &call.stack, options); !opened.Ok())
    return Fail(opened.message);
  integration::Desktop& desktop = call.stack->Desktop();
  if (recurse) call.stack->PrepareWalk();
  const int queried = Query(desktop.Classes(), key_path, recurse);
  if (classes && !desktop.ViewError().empty())
    Fail(ViewUnread(desktop.ViewError()) + ": only Zandrel's own keys are shown");
  return queried;
}

}  // namespace

Verb QueryVerb() {
  return {.name = "query",
          .arguments = "KEY [/s]",
          .help = "the key's values, and with /s its subtree",
          .least = 1,
          .most = 2,
          .opens = Opens::kNothing,
          .check = Check,
          .run = Query};
}

}  // namespace zandrel::shell::reg
