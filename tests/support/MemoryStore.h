// An undo record kept in memory: in the store's own string, or in one the
// test reads (missing while it holds no value).
#pragma once

#include <optional>
#include <string>

#include "capture/UndoJournal.h"

namespace zandrel::testing {

class MemoryStore : public capture::UndoStore {
 public:
  MemoryStore() : record_(own_) {}
  // `record` must outlive this object.
  explicit MemoryStore(std::optional<std::string>& record) : record_(record) {}
  LONG Lock(bool) override { return ERROR_SUCCESS; }
  void Unlock() override {}
  LONG Append(const std::string& bytes) override {
    record_ = record_.value_or("") + bytes;
    return ERROR_SUCCESS;
  }
  LONG Read(std::string* bytes) override {
    if (!record_) return ERROR_FILE_NOT_FOUND;
    *bytes = *record_;
    return ERROR_SUCCESS;
  }
  LONG Remove() override {
    record_.reset();
    return ERROR_SUCCESS;
  }

 private:
  std::optional<std::string> own_;
  std::optional<std::string>& record_;
};

}  // namespace zandrel::testing
