// Pieces of the bulk import (HiveImport.cpp): a table of names, statements
// owned for the import's length, and the text of many-row inserts.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "text/LargePages.h"

namespace zandrel::hive {

// Items (keys or values) found by their owner's index and upper-cased name:
// open addressing with linear probing, 8 bytes a slot, on large pages. The
// caller keeps each item's owner and name; `same(item)` compares them.
class NameTable {
 public:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFF;
  static constexpr std::uint32_t kGone = 0xFFFFFFFE;  // erased: probing goes on past it

  static std::uint32_t Hash(std::uint32_t owner, std::string_view upper) {
    const std::uint64_t h = std::hash<std::string_view>()(upper) ^ (owner * 0x9E3779B97F4A7C15u);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
  }

  void Reserve(std::size_t items) {
    std::size_t size = 64;
    while (size < 2 * items) size *= 2;
    if (size <= slots_.size()) return;
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{0, kEmpty});
    text::AdviseLargePages(slots_.data(), slots_.size() * sizeof(Slot));
    used_ = 0;
    for (const Slot& slot : old)
      if (slot.item < kGone) *Free(slot.hash) = slot, ++used_;
  }

  // The item of `hash` for which same(item) holds, or kEmpty.
  template <typename Same>
  std::uint32_t Find(std::uint32_t hash, Same same) const {
    if (slots_.empty()) return kEmpty;
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& slot = slots_[i];
      if (slot.item == kEmpty) return kEmpty;
      if (slot.hash == hash && slot.item != kGone && same(slot.item)) return slot.item;
    }
  }

  void Insert(std::uint32_t hash, std::uint32_t item) {
    if (2 * (used_ + 1) > slots_.size()) Reserve(2 * (used_ + 1));
    *Free(hash) = Slot{hash, item};
    ++used_;
  }

  void Erase(std::uint32_t hash, std::uint32_t item) {
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i].item == item) {
        slots_[i].item = kGone;
        return;
      }
    }
  }

 private:
  struct Slot {
    std::uint32_t hash;
    std::uint32_t item;
  };
  Slot* Free(std::uint32_t hash) {
    std::size_t i = hash & (slots_.size() - 1);
    while (slots_[i].item != kEmpty) i = (i + 1) & (slots_.size() - 1);
    return &slots_[i];
  }
  std::vector<Slot> slots_;
  std::size_t used_ = 0;  // slots holding an item or kGone
};

// A prepared statement owned for the import's length.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int Prepare(sqlite3* db, const std::string& sql) {
    return sqlite3_prepare_v3(db, sql.c_str(), -1, 0, &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// "INSERT ... VALUES (?,?),(?,?),..." for `rows` rows of `columns`. OR FAIL:
// no statement journal, as every name was checked unique before; any failure
// ends the import, whose transaction is then rolled back.
inline std::string InsertSql(const char* head, int columns, int rows) {
  std::string row = "(?";
  for (int c = 1; c < columns; ++c) row += ",?";
  row += ")";
  std::string sql = std::string("INSERT OR FAIL INTO ") + head + " VALUES " + row;
  for (int r = 1; r < rows; ++r) sql += "," + row;
  return sql;
}

}  // namespace zandrel::hive
