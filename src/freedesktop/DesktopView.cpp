#include "freedesktop/DesktopView.h"

namespace zandrel::freedesktop {
namespace {

constexpr const char* kEnd = "end of rows: ";

}  // namespace

std::string EncodeRows(const std::vector<ViewRow>& rows) {
  std::string out;
  for (const ViewRow& row : rows)
    for (const std::string* field :
         {&row.extension, &row.type, &row.description, &row.command, &row.icon, &row.application}) {
      out += *field;
      out += '\0';
    }
  // The end says the answer is whole: a helper that printed nothing, or
  // stopped part-way, gave no view (not an empty desktop).
  out += kEnd + std::to_string(rows.size());
  out += '\0';
  return out;
}

std::optional<std::vector<ViewRow>> DecodeRows(const std::string& bytes) {
  std::vector<std::string> fields;
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t end = bytes.find('\0', start);
    if (end == std::string::npos) return std::nullopt;
    fields.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  if (fields.empty() || fields.back().rfind(kEnd, 0) != 0) return std::nullopt;
  const std::string count = fields.back().substr(std::string_view(kEnd).size());
  fields.pop_back();
  if (fields.size() % 6 != 0 || count != std::to_string(fields.size() / 6)) return std::nullopt;
  std::vector<ViewRow> rows;
  for (std::size_t i = 0; i < fields.size(); i += 6)
    rows.push_back(ViewRow{fields[i], fields[i + 1], fields[i + 2], fields[i + 3], fields[i + 4], fields[i + 5]});
  return rows;
}

}  // namespace zandrel::freedesktop
