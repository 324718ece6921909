// The undo record's text: an entry a line, texts in hex.
#include "registry/journal/UndoRecord.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "registry/Names.h"

namespace zandrel::journal {
namespace {

std::string HexText(const std::string& bytes) {
  if (bytes.empty()) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool FromHex(const std::string& text, std::string* bytes) {
  bytes->clear();
  if (text == "-") return true;
  if (text.empty() || text.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    *bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

}  // namespace

std::string EncodeUndoEntry(const UndoEntry& entry) {
  static const char* const kKinds[] = {"created", "values", "deleted"};
  char root[16];
  std::snprintf(root, sizeof root, "%08x", static_cast<unsigned>(entry.root));
  std::string line = std::string(kKinds[static_cast<int>(entry.kind)]) + " " + root + " " +
                     HexText(entry.path);
  if (entry.kind != UndoEntry::Kind::kCreated) {
    line += " " + std::to_string(entry.values.size());
    for (const UndoValue& value : entry.values)
      line += " " + HexText(value.name) + " " + std::to_string(value.type) + " " +
              HexText(value.data);
  }
  if (entry.kind == UndoEntry::Kind::kValues)
    line += entry.deleting ? " delete " + HexText(entry.change.name)
                           : " set " + HexText(entry.change.name) + " " + std::to_string(entry.change.type) + " " +
                                 HexText(entry.change.data);
  return line + "\n";
}

std::vector<UndoEntry> DecodeUndoRecord(const std::string& bytes) {
  std::vector<UndoEntry> entries;
  if (bytes.compare(0, std::string(kUndoRecordHeader).size(), kUndoRecordHeader) != 0) return entries;
  std::size_t at = std::string(kUndoRecordHeader).size();
  for (;;) {
    const std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) break;  // cut short: its change never started
    std::istringstream line(bytes.substr(at, end - at));
    at = end + 1;
    std::string kind, root, path;
    UndoEntry entry;
    if (!(line >> kind >> root >> path) || !FromHex(path, &entry.path)) break;
    char* root_end = nullptr;
    entry.root = static_cast<HKEY>(std::strtoul(root.c_str(), &root_end, 16));
    if (*root_end != '\0' || *registry::RootName(entry.root) == '\0') break;
    if (kind == "created") {
      entry.kind = UndoEntry::Kind::kCreated;
    } else if (kind == "values" || kind == "deleted") {
      entry.kind = kind == "values" ? UndoEntry::Kind::kValues : UndoEntry::Kind::kDeleted;
      std::size_t count = 0;
      if (!(line >> count)) break;
      bool ok = true;
      for (std::size_t i = 0; ok && i < count; ++i) {
        std::string name, data;
        UndoValue value;
        ok = static_cast<bool>(line >> name >> value.type >> data) && FromHex(name, &value.name) &&
             FromHex(data, &value.data);
        entry.values.push_back(std::move(value));
      }
      if (!ok) break;
      if (entry.kind == UndoEntry::Kind::kValues) {
        std::string how, name, data;
        if (!(line >> how >> name) || !FromHex(name, &entry.change.name)) break;
        entry.deleting = how == "delete";
        if (how == "set" && !(line >> entry.change.type >> data && FromHex(data, &entry.change.data))) break;
        if (how != "set" && how != "delete") break;
      }
    } else {
      break;
    }
    std::string extra;
    if (line >> extra) break;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace zandrel::journal
