#include "support/RecordingDesktop.h"

namespace zandrel::testing {

std::vector<std::string> RecordingDesktop::Committed() const {
  std::vector<std::string> extensions;
  for (const Change& change : changes)
    if (change.committed) extensions.push_back(change.extension);
  return extensions;
}

std::vector<std::size_t> RecordingDesktop::CommittedAt() const {
  std::vector<std::size_t> at;
  for (const Change& change : changes)
    if (change.committed) at.push_back(change.atMessage);
  return at;
}

}  // namespace zandrel::testing
