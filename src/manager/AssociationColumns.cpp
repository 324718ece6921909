#include "manager/AssociationColumns.h"

#include <cstddef>
#include <iterator>
#include <utility>

namespace zandrel::manager {

namespace {

struct Column {
  const char* header;
  float width;     // twips; the last column's is worked out from the window's width
  RowField field;  // what the column shows of a listing row
};

// Left to right; the first column is the one typing in the list looks in.
constexpr Column kColumns[] = {
    {"Расширение", 1400.0f, &store::AssociationRow::extension},
    {"Описание", 2400.0f, &store::AssociationRow::description},
    {"Ассоциация", 0.0f, &store::AssociationRow::command},
};
constexpr std::size_t kLast = std::size(kColumns) - 1;

// What the last column leaves of the window's outer width besides the other
// columns: more at load than after a resize. Every show resizes the window
// after loading it, so the resize's margin is the one seen.
constexpr float kLoadMargin = 400.0f;
constexpr float kResizeMargin = 200.0f;

}  // namespace

void SetAssociationColumns(ui::ListView& list, float outerWidth) {
  list.ClearColumns();
  float others = 0.0f;
  for (std::size_t i = 0; i < kLast; ++i) {
    list.AddColumn(kColumns[i].header, kColumns[i].width);
    others += kColumns[i].width;
  }
  list.AddColumn(kColumns[kLast].header, outerWidth - (others + kLoadMargin));
}

void FitLastColumn(ui::ListView& list, float outerWidth) {
  const std::vector<ui::ColumnHeader>& columns = list.Columns();
  if (columns.empty()) return;
  float others = 0.0f;
  for (std::size_t i = 0; i + 1 < columns.size(); ++i) others += columns[i].width;
  const float taken = others + kResizeMargin;
  if (outerWidth > taken) list.SetColumnWidth(columns.size() - 1, outerWidth - taken);
}

std::vector<ui::ListItem> ListItems(std::vector<store::AssociationRow> rows) {
  std::vector<ui::ListItem> items(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    ui::ListItem& item = items[r];
    item.text = std::move(rows[r].*kColumns[0].field);
    item.subItems.reserve(kLast);
    for (std::size_t i = 1; i <= kLast; ++i) item.subItems.push_back(std::move(rows[r].*kColumns[i].field));
  }
  return items;
}

const std::string& FieldText(const ui::ListItem& item, RowField field) {
  for (std::size_t i = 0; i <= kLast; ++i)
    if (kColumns[i].field == field) return item.Cell(i);
  static const std::string kNone;
  return kNone;
}

}  // namespace zandrel::manager
