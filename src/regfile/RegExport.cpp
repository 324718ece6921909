// Export: a subtree walked with the registry's WalkSubtree and written as
// Version 5.00 text.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "regfile/RegFile.h"
#include "regfile/RegParser.h"
#include "registry/Codes.h"
#include "registry/Key.h"
#include "registry/KeyPath.h"
#include "registry/Names.h"
#include "registry/Subtree.h"
#include "text/LargePages.h"
#include "text/Utf.h"

namespace zandrel::regfile {

using registry::DescribeCode;

namespace {

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Writes Version 5.00 text straight as UTF-16LE: the sections of the keys
// handed over, each ending in a blank line.
class ExportWriter : public registry::SubtreeVisitor {
 public:
  ExportWriter(std::string title, std::string* out) : path_(std::move(title)), out_(*out) {}

  void Key(std::size_t depth, std::string_view name) override {
    const std::string& path = path_.Enter(depth, name);
    if (sections_++ > 0) Ascii("\r\n");
    Ascii("[");
    text::AppendUtf16Le(path, &out_);
    Ascii("]\r\n");
  }

  // Appends a value line. Line lengths are counted in UTF-16 units, as the
  // file holds them.
  void Value(std::string_view name, DWORD type, std::string_view data) override {
    std::size_t column;
    if (name.empty()) {
      Ascii("@=");
      column = 2;
    } else {
      Ascii("\"");
      column = 3 + Escaped(name);
      Ascii("\"=");
    }
    if (type == REG_SZ && data.empty()) {
      Ascii("\"\"\r\n");  // as regedit writes it; it reads back with its NUL
      return;
    }
    if (type == REG_SZ && IsPlainString(data)) {
      Ascii("\"");
      Escaped(data.substr(0, data.size() - 1));
      Ascii("\"\r\n");
      return;
    }
    char buffer[16];
    if (type == REG_DWORD && data.size() == 4) {
      std::uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[i]);
      std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
      Ascii(buffer);
      Ascii("\r\n");
      return;
    }
    if (type == REG_BINARY) {
      std::snprintf(buffer, sizeof buffer, "hex:");
    } else {
      std::snprintf(buffer, sizeof buffer, "hex(%x):", type);
    }
    Ascii(buffer);
    column += std::strlen(buffer);
    if (IsStringType(type)) {
      units_.clear();
      text::AppendUtf16Le(data, &units_);
      data = units_;
    }
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
      const auto b = static_cast<unsigned char>(data[i]);
      const char digits[] = {kDigits[b >> 4], 0, kDigits[b & 15], 0};
      out_.append(digits, 4);
      column += 2;
      if (i + 1 == data.size()) break;
      out_.append(",\0", 2);
      ++column;
      // Wrap so that no line, with its "\", passes 80 columns.
      if (column > 76) {
        Ascii("\\\r\n  ");
        column = 2;
      }
    }
    Ascii("\r\n");
  }

  // Room for the UTF-16 text, generously: memory reserved and never
  // touched costs nothing, growing the text costs a copy each time.
  void Expect(std::size_t keys, std::size_t values, std::size_t bytes) override {
    out_.reserve(out_.size() + 2 * (keys * (path_.Title().size() + 96) + values * 16 + bytes * 4));
    text::AdviseLargePages(out_.data(), out_.capacity());
  }

  // Ends the last section.
  void Finish() {
    if (sections_ > 0) Ascii("\r\n");
  }

 private:
  void Ascii(std::string_view text) {
    for (char c : text) out_.append({c, '\0'});
  }

  // Appends text with "\" and '"' escaped; returns the UTF-16 units written.
  std::size_t Escaped(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t start = 0;;) {
      std::size_t special = start;
      while (special < text.size() && text[special] != '\\' && text[special] != '"') ++special;
      units += text::AppendUtf16Le(text.substr(start, special - start), &out_);
      if (special == text.size()) return units;
      out_.append({'\\', '\0', text[special], '\0'});
      units += 2;
      start = special + 1;
    }
  }

  // Whether REG_SZ data is plain text with one terminating NUL, so that it
  // reads back the same from a quoted string.
  static bool IsPlainString(std::string_view data) {
    if (data.empty() || data.back() != '\0') return false;
    const std::string_view text = data.substr(0, data.size() - 1);
    for (const char c : text)
      if (c == '\0' || c == '\r' || c == '\n') return false;
    return text::IsWellFormedUtf8(text);
  }

  registry::WalkPath path_;
  std::string& out_;
  std::size_t sections_ = 0;
  std::string units_;  // string data as UTF-16LE
};

}  // namespace

status::Status ExportRegText(IRegistry& registry, const std::string& key_path, std::string* bytes) {
  using status::Status;
  HKEY root = 0;
  std::string sub;
  if (!registry::ParseKeyPath(key_path, &root, &sub))
    return {Status::kInvalid, "unknown root key in \"" + key_path + "\""};
  registry::Key key(registry);
  LONG code = key.Open(root, sub);
  if (code != ERROR_SUCCESS)
    return {Status::kFailed, "cannot open the key \"" + key_path + "\": " + DescribeCode(code)};
  std::string out = "\xFF\xFE";
  text::AppendUtf16Le(std::string(kHeader5) + "\r\n\r\n", &out);
  ExportWriter writer(std::string(registry::RootName(root)) + (sub.empty() ? "" : "\\" + sub), &out);
  code = registry.WalkSubtree(key.Handle(), writer);
  key.Close();
  if (code != ERROR_SUCCESS)
    return {Status::kFailed, "cannot read the key \"" + key_path + "\": " + DescribeCode(code)};
  writer.Finish();
  *bytes = std::move(out);
  return {};
}

}  // namespace zandrel::regfile
