#include "capture/FileRecord.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "capture/ChangeHistory.h"
#include "files/FileRead.h"
#include "files/FileReplace.h"

namespace zandrel::capture {
namespace {

// Past this many cells the lines between the common head and tail are one
// hunk: a file of Zandrel's size never comes near it.
constexpr std::size_t kMostCells = std::size_t{1} << 22;

void PutU32(std::string* out, std::size_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutString(std::string* out, std::string_view s) {
  PutU32(out, s.size());
  out->append(s);
}

bool TakeU32(std::string_view* bytes, std::uint32_t* v) {
  if (bytes->size() < 4) return false;
  *v = 0;
  for (int i = 3; i >= 0; --i) *v = (*v << 8) | static_cast<unsigned char>((*bytes)[static_cast<std::size_t>(i)]);
  bytes->remove_prefix(4);
  return true;
}

bool TakeString(std::string_view* bytes, std::string* s) {
  std::uint32_t size = 0;
  if (!TakeU32(bytes, &size) || bytes->size() < size) return false;
  s->assign(bytes->substr(0, size));
  bytes->remove_prefix(size);
  return true;
}

bool TakeLines(std::string_view* bytes, std::vector<std::string>* lines) {
  std::uint32_t count = 0;
  if (!TakeU32(bytes, &count) || count > bytes->size() / 4) return false;
  lines->resize(count);
  for (std::string& line : *lines)
    if (!TakeString(bytes, &line)) return false;
  return true;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

// The hunks that take a[ab, ae) to b[bb, be), by a longest common
// subsequence of lines.
void DiffRange(const std::vector<std::string>& a, std::size_t ab, std::size_t ae, const std::vector<std::string>& b,
               std::size_t bb, std::size_t be, std::vector<FileHunk>* hunks) {
  const std::size_t n = ae - ab, m = be - bb;
  if (n == 0 && m == 0) return;
  if (n == 0 || m == 0 || (n + 1) * (m + 1) > kMostCells) {
    hunks->push_back({bb,
                      {a.begin() + static_cast<std::ptrdiff_t>(ab), a.begin() + static_cast<std::ptrdiff_t>(ae)},
                      {b.begin() + static_cast<std::ptrdiff_t>(bb), b.begin() + static_cast<std::ptrdiff_t>(be)}});
    return;
  }
  // common[i][j]: the longest common run of a[ab+i..] and b[bb+j..].
  std::vector<std::uint32_t> common((n + 1) * (m + 1), 0);
  const auto at = [m](std::size_t i, std::size_t j) { return i * (m + 1) + j; };
  for (std::size_t i = n; i-- > 0;)
    for (std::size_t j = m; j-- > 0;)
      common[at(i, j)] =
          a[ab + i] == b[bb + j] ? common[at(i + 1, j + 1)] + 1 : std::max(common[at(i + 1, j)], common[at(i, j + 1)]);
  std::size_t i = 0, j = 0;
  FileHunk open;
  bool opened = false;
  const auto close = [&] {
    if (opened) hunks->push_back(std::move(open));
    open = FileHunk{};
    opened = false;
  };
  while (i < n || j < m) {
    if (i < n && j < m && a[ab + i] == b[bb + j]) {
      close();
      ++i, ++j;
      continue;
    }
    if (!opened) open.at = bb + j, opened = true;
    if (j < m && (i == n || common[at(i, j + 1)] >= common[at(i + 1, j)])) open.after.push_back(b[bb + j++]);
    else open.before.push_back(a[ab + i++]);
  }
  close();
}

constexpr std::size_t kNowhere = static_cast<std::size_t>(-1);

// Where the lines `hunk` left stand now, ending by `limit`: at `expected`
// when they are there, else the place nearest to it (lines written above
// them since move them, which does not keep the undo from them); kNowhere
// when they are nowhere. Lines the change removed stand anywhere: they go
// back where they were, within the file.
std::size_t Locate(const std::vector<std::string>& lines, const FileHunk& hunk, std::ptrdiff_t expected,
                   std::size_t limit) {
  const std::size_t size = hunk.after.size();
  if (size > limit) return kNowhere;
  const std::size_t last = limit - size;
  const std::size_t guess =
      static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(expected, 0, static_cast<std::ptrdiff_t>(last)));
  if (size == 0) return guess;
  const auto matches = [&](std::size_t at) {
    return std::equal(hunk.after.begin(), hunk.after.end(), lines.begin() + static_cast<std::ptrdiff_t>(at));
  };
  for (std::size_t d = 0; d <= last; ++d) {
    if (d <= guess && matches(guess - d)) return guess - d;
    if (guess + d <= last && d > 0 && matches(guess + d)) return guess + d;
    if (d > guess && guess + d > last) break;
  }
  return kNowhere;
}

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.emplace_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

FileEdit DiffFile(const std::string& path, const FileContent& before, const FileContent& after) {
  FileEdit edit;
  edit.path = path;
  edit.existed = before.has_value();
  edit.remains = after.has_value();
  const std::vector<std::string> a = SplitLines(before.value_or("")), b = SplitLines(after.value_or(""));
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) ++tail;
  DiffRange(a, head, a.size() - tail, b, head, b.size() - tail, &edit.hunks);
  return edit;
}

std::string EncodeFileRecord(const FileRecord& record) {
  std::string out = "ZHF1";
  PutU32(&out, record.files.size());
  for (const FileEdit& file : record.files) {
    PutString(&out, file.path);
    out.push_back(file.existed ? 1 : 0);
    out.push_back(file.remains ? 1 : 0);
    PutU32(&out, file.hunks.size());
    for (const FileHunk& hunk : file.hunks) {
      PutU32(&out, hunk.at);
      for (const auto* lines : {&hunk.before, &hunk.after}) {
        PutU32(&out, lines->size());
        for (const std::string& line : *lines) PutString(&out, line);
      }
    }
  }
  return out;
}

bool DecodeFileRecord(std::string_view bytes, FileRecord* record) {
  record->files.clear();
  std::uint32_t count = 0;
  if (!bytes.starts_with("ZHF1")) return false;
  bytes.remove_prefix(4);
  if (!TakeU32(&bytes, &count) || count > bytes.size()) return false;
  record->files.resize(count);
  for (FileEdit& file : record->files) {
    std::uint32_t hunks = 0;
    if (!TakeString(&bytes, &file.path) || bytes.size() < 2) return false;
    file.existed = bytes[0] != 0;
    file.remains = bytes[1] != 0;
    bytes.remove_prefix(2);
    if (!TakeU32(&bytes, &hunks) || hunks > bytes.size()) return false;
    file.hunks.resize(hunks);
    for (FileHunk& hunk : file.hunks) {
      std::uint32_t at = 0;
      if (!TakeU32(&bytes, &at) || !TakeLines(&bytes, &hunk.before) || !TakeLines(&bytes, &hunk.after)) return false;
      hunk.at = at;
    }
  }
  return bytes.empty();
}

FileRecord InverseFileRecord(const FileRecord& record) {
  FileRecord inverse;
  for (const FileEdit& file : record.files) {
    FileEdit back{file.path, file.remains, file.existed, {}};
    // A hunk's place in the file before the change: earlier hunks' lines
    // taken back.
    std::ptrdiff_t shift = 0;
    for (const FileHunk& hunk : file.hunks) {
      back.hunks.push_back({static_cast<std::size_t>(static_cast<std::ptrdiff_t>(hunk.at) + shift), hunk.after,
                            hunk.before});
      shift += static_cast<std::ptrdiff_t>(hunk.before.size()) - static_cast<std::ptrdiff_t>(hunk.after.size());
    }
    inverse.files.push_back(std::move(back));
  }
  return inverse;
}

FileContent ReadContent(const std::string& path, std::string* why) {
  std::string text;
  const status::Status read = files::ReadFileWhole(path, &text);
  why->clear();
  if (read.code == status::Status::kNotFound) return std::nullopt;
  if (!read.Ok()) {
    *why = path + ": " + read.message;
    return std::nullopt;
  }
  return text;
}

bool UndoneContents(const FileRecord& record, FileContents* contents, std::string* changed) {
  contents->clear();
  for (const FileEdit& file : record.files) {
    std::string why;
    const FileContent now = ReadContent(file.path, &why);
    if (!why.empty() || now.has_value() != file.remains) {
      *changed = why.empty() ? file.path : why;
      return false;
    }
    std::vector<std::string> lines = SplitLines(now.value_or(""));
    std::size_t limit = lines.size();  // where the hunk after this one begins now
    std::ptrdiff_t shift = 0;          // how far that one had moved since the change
    for (auto hunk = file.hunks.rbegin(); hunk != file.hunks.rend(); ++hunk) {
      const std::size_t at = Locate(lines, *hunk, static_cast<std::ptrdiff_t>(hunk->at) + shift, limit);
      if (at == kNowhere) {
        *changed = file.path + ", строка " + std::to_string(hunk->at + 1);
        return false;
      }
      shift = static_cast<std::ptrdiff_t>(at) - static_cast<std::ptrdiff_t>(hunk->at);
      const auto from = lines.begin() + static_cast<std::ptrdiff_t>(at);
      lines.insert(lines.erase(from, from + static_cast<std::ptrdiff_t>(hunk->after.size())), hunk->before.begin(),
                   hunk->before.end());
      limit = at;
    }
    // A file the change made goes only when nothing else was written in it since.
    if (!file.existed && !lines.empty()) {
      *changed = file.path;
      return false;
    }
    contents->emplace_back(file.path, file.existed ? FileContent(Joined(lines)) : std::nullopt);
  }
  return true;
}

namespace {

// What each file holds now, in the order of `contents`; why when one cannot be read.
status::Status ReadAll(const FileContents& contents, FileContents* now) {
  now->clear();
  for (const auto& entry : contents) {
    std::string why;
    FileContent old = ReadContent(entry.first, &why);
    if (!why.empty()) return {status::Status::kFailed, why};
    now->emplace_back(entry.first, std::move(old));
  }
  return {};
}

status::Status WriteOne(const std::string& path, const FileContent& content) {
  std::error_code error;
  if (content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    status::Status done = files::ReplaceFileWhole(path, *content);
    if (!done.Ok()) done.message = path + ": " + done.message;
    return done;
  }
  if (!std::filesystem::remove(path, error) && error) return {status::Status::kFailed, path + ": " + error.message()};
  return {};
}

// Writes `contents` over files that hold `olds`; on failure puts back what it
// wrote, *whole false when that too failed for one.
status::Status WriteOver(const FileContents& contents, const FileContents& olds, FileContents* saved,
                         bool* whole = nullptr) {
  saved->clear();
  for (std::size_t i = 0; i < contents.size(); ++i) {
    if (status::Status done = WriteOne(contents[i].first, contents[i].second); !done.Ok()) {
      const bool back = PutFilesBack(*saved);
      if (whole != nullptr) *whole = back;
      saved->clear();
      return done;
    }
    saved->push_back(olds[i]);
  }
  return {};
}

enum class Found { kNone, kOwn, kForeign };

// What is at the journal's place, a symbolic link not followed.
Found JournalFound(const std::string& path) {
#ifdef _WIN32
  std::error_code error;
  const auto type = std::filesystem::symlink_status(path, error).type();
  if (type == std::filesystem::file_type::not_found) return Found::kNone;
  return type == std::filesystem::file_type::regular ? Found::kOwn : Found::kForeign;
#else
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? Found::kNone : Found::kForeign;
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() ? Found::kOwn : Found::kForeign;
#endif
}

}  // namespace

status::Status WriteFiles(const FileContents& contents, FileContents* saved) {
  FileContents olds;
  saved->clear();
  if (status::Status read = ReadAll(contents, &olds); !read.Ok()) return read;
  return WriteOver(contents, olds, saved);
}

bool PutFilesBack(const FileContents& saved) {
  bool whole = true;
  for (auto it = saved.rbegin(); it != saved.rend(); ++it) whole = WriteOne(it->first, it->second).Ok() && whole;
  return whole;
}

std::string EncodeFileJournal(const FileJournal& journal) {
  std::string out = "ZFJ1";
  PutU32(&out, journal.number);
  PutString(&out, EncodeFileRecord(journal.record));
  PutU32(&out, journal.after.size());
  for (std::size_t i = 0; i < journal.after.size(); ++i) {
    const FileContent& before = journal.before[i].second;
    const FileContent& after = journal.after[i].second;
    PutString(&out, journal.after[i].first);
    out.push_back(static_cast<char>((before ? 1 : 0) | (after ? 2 : 0)));
    PutString(&out, before.value_or(""));
    PutString(&out, after.value_or(""));
  }
  return out;
}

bool DecodeFileJournal(std::string_view bytes, FileJournal* journal) {
  *journal = {};
  std::uint32_t number = 0, count = 0;
  std::string record;
  if (!bytes.starts_with("ZFJ1")) return false;
  bytes.remove_prefix(4);
  if (!TakeU32(&bytes, &number) || !TakeString(&bytes, &record) || !DecodeFileRecord(record, &journal->record) ||
      !TakeU32(&bytes, &count) || count > bytes.size() / 9)
    return false;
  journal->number = number;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string path, before, after;
    if (!TakeString(&bytes, &path) || bytes.empty()) return false;
    const unsigned flags = static_cast<unsigned char>(bytes.front());
    bytes.remove_prefix(1);
    if (flags > 3 || !TakeString(&bytes, &before) || !TakeString(&bytes, &after)) return false;
    journal->before.emplace_back(path, (flags & 1) != 0 ? FileContent(std::move(before)) : std::nullopt);
    journal->after.emplace_back(std::move(path), (flags & 2) != 0 ? FileContent(std::move(after)) : std::nullopt);
  }
  return bytes.empty();
}

status::Status WriteChangeFiles(const std::string& journal, unsigned number, const FileRecord& record,
                                const FileContents& contents, FileContents* saved) {
  saved->clear();
  FileJournal kept{number, record, {}, contents};
  if (status::Status read = ReadAll(contents, &kept.before); !read.Ok()) return read;
  if (!journal.empty()) {
    // Only a change that died leaves one, and its repair failed: writing over it would lose that repair.
    if (JournalFound(journal) != Found::kNone)
      return {status::Status::kFailed, journal +
                                           ": an earlier change left its files half done, and they could not "
                                           "be put back"};
    if (status::Status put = files::ReplaceFileWhole(journal, EncodeFileJournal(kept)); !put.Ok())
      return {status::Status::kFailed, journal + ": " + put.message};
  }
  bool whole = true;
  status::Status written = WriteOver(contents, kept.before, saved, &whole);
  // A file left written (the disk full, say) keeps the journal, for the next change to put it back.
  if (!written.Ok() && whole) EndChangeFiles(journal);
  return written;
}

void EndChangeFiles(const std::string& journal) {
  std::error_code error;
  if (!journal.empty()) std::filesystem::remove(journal, error);
}

std::string RepairChangeFiles(IRegistry& registry, const std::string& journal) {
#ifndef _WIN32
  // A writer killed while writing the journal left its temporary beside it.
  const std::size_t slash = journal.rfind('/');
  if (slash != std::string::npos)
    files::SweepTemporaries(journal.substr(0, slash),
                            [&](const std::string& name) { return name == journal.substr(slash + 1); });
#endif
  const Found found = JournalFound(journal);
  if (found == Found::kNone) return "";
  // It names files to write: one this user did not write (planted where root runs Zandrel) is never replayed.
  if (found == Found::kForeign) return journal + ": not a plain file of this user's, left as it is";
  std::string bytes;
  const status::Status read = files::ReadFileWhole(journal, &bytes);
  FileJournal left;
  if (!read.Ok()) return journal + ": " + read.message;
  if (!DecodeFileJournal(bytes, &left)) return journal + ": not a journal of a change's files";
  FileRecord kept;
  const LONG code = ReadChangeFiles(registry, left.number, &kept);
  if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND)
    return journal + ": the history cannot be read (registry error " + std::to_string(code) + ")";
  // The change is in the history: it died after its commit, and the files are as they should be.
  const bool committed = code == ERROR_SUCCESS && kept.files == left.record.files;
  for (std::size_t i = left.after.size(); !committed && i-- > 0;) {
    std::string why;
    const FileContent now = ReadContent(left.after[i].first, &why);
    if (!why.empty()) return why;
    if (now != left.after[i].second) continue;  // not written yet, or changed since
    if (status::Status put = WriteOne(left.before[i].first, left.before[i].second); !put.Ok()) return put.message;
  }
  EndChangeFiles(journal);
  return "";
}

}  // namespace zandrel::capture
