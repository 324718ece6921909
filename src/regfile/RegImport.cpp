// Import: a file's changes made by the registry's ApplyChanges inside one
// transaction.
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "files/FileRead.h"
#include "regfile/RegFile.h"
#include "regfile/RegParser.h"
#include "registry/Codes.h"
#include "registry/Names.h"

namespace zandrel::regfile {
namespace {

using registry::DescribeCode;

std::string OpWhat(const registry::Change& op) {
  switch (op.kind) {
    case registry::Change::kKey: return "cannot create the key";
    case registry::Change::kDeleteKey: return "cannot delete the key";
    case registry::Change::kSetValue: return "cannot set the value \"" + std::string(op.name) + "\"";
    default: return "cannot delete the value \"" + std::string(op.name) + "\"";
  }
}

// ImportRegText's work. `owner` (when given) holds `bytes`, and is emptied
// as soon as nothing points into it: a large file's text, its parse and
// the commit's own work are never all in memory at once.
status::Status Import(IRegistry& registry, std::string_view bytes, std::string* owner, const std::string& file_name,
                      std::vector<std::string>* notes) {
  const auto release = [owner] {
    if (owner != nullptr) std::string().swap(*owner);
  };
  auto fail = [&](int line, const std::string& what, status::Status::Code code = status::Status::kFailed) {
    return status::Status(code, line > 0 ? file_name + ", line " + std::to_string(line) + ": " + what
                                         : file_name + ": " + what);
  };
  RegParse parse = ParseRegText(bytes);
  if (!parse.points_into_bytes) release();
  if (notes != nullptr)
    for (const RegNote& note : parse.notes)
      notes->push_back(file_name + ", line " + std::to_string(note.line) + ": " + note.what);
  if (!parse.ok) return fail(parse.line, parse.what, status::Status::kInvalid);
  const std::deque<registry::Change>& ops = parse.changes;

  RegistryTransaction transaction(registry);
  if (transaction.BeginCode() != ERROR_SUCCESS) {
    return fail(0, "cannot start the import: " + DescribeCode(transaction.BeginCode()));
  }
  const registry::Change* failed = nullptr;
  const LONG code = registry.ApplyChanges(ops, &failed);
  if (code != ERROR_SUCCESS) {
    std::string what = OpWhat(*failed);
    if (failed->kind == registry::Change::kKey || failed->kind == registry::Change::kDeleteKey) {
      what += " \"" + std::string(registry::RootName(failed->root)) +
              (failed->path.empty() ? "" : "\\" + std::string(failed->path)) + "\"";
    }
    return fail(failed->line, what + ": " + DescribeCode(code));
  }
  std::deque<registry::Change>().swap(parse.changes);
  parse.text = text::Arena();
  release();
  const LONG commit = transaction.Commit();
  if (commit != ERROR_SUCCESS) return fail(0, "cannot commit the import: " + DescribeCode(commit));
  return {};
}

}  // namespace

status::Status ImportRegText(IRegistry& registry, std::string_view bytes, const std::string& file_name,
                             std::vector<std::string>* notes) {
  return Import(registry, bytes, nullptr, file_name, notes);
}

// A .reg file read whole; larger ones are refused rather than read into
// memory (a pipe that never ends, a mistaken argument).
constexpr std::size_t kMaxRegFileBytes = std::size_t{256} << 20;

status::Status ImportRegFile(IRegistry& registry, const std::string& path, std::vector<std::string>* notes) {
  std::string bytes;
  const status::Status read = files::ReadFileWhole(path, &bytes, kMaxRegFileBytes);
  if (!read.Ok()) {
    return {read.code, path + ": " +
                           (read.code == status::Status::kTooLarge ? "larger than 256 MB, too large for a .reg file"
                                                                   : read.message)};
  }
  return Import(registry, bytes, &bytes, path, notes);
}

}  // namespace zandrel::regfile
