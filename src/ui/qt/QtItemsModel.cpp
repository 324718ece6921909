#include "ui/qt/QtItemsModel.h"

#include <QGuiApplication>
#include <QPalette>

#include "ui/qt/QtWidgets.h"

namespace zandrel::ui::qt {

// --- ItemsModel -------------------------------------------------------------

void ItemsModel::Detach() {
  beginResetModel();
  list_ = nullptr;
  rows_ = columns_ = 0;
  endResetModel();
}

void ItemsModel::Reset() {
  beginResetModel();
  rows_ = list_ ? static_cast<int>(list_->Count()) : 0;
  columns_ = list_ ? static_cast<int>(list_->Columns().size()) : 0;
  endResetModel();
}

int ItemsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int ItemsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant ItemsModel::data(const QModelIndex& index, int role) const {
  if (list_ == nullptr || !index.isValid() || (role != Qt::DisplayRole && role != Qt::ForegroundRole)) return {};
  const auto row = static_cast<std::size_t>(index.row());
  if (row >= list_->Count()) return {};  // rows went away; a reset is on its way
  const ListItem& item = list_->Items()[row];
  if (role == Qt::ForegroundRole) {
    // The application's disabled text, as Windows draws a dimmed row in
    // COLOR_GRAYTEXT; the list's own palette has its foreground in every group.
    if (!item.dimmed) return {};
    return QGuiApplication::palette().color(QPalette::Disabled, QPalette::Text);
  }
  return Q(item.Cell(static_cast<std::size_t>(index.column())));
}

QVariant ItemsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (list_ == nullptr || orientation != Qt::Horizontal || section < 0 ||
      static_cast<std::size_t>(section) >= list_->Columns().size())
    return {};
  if (role == Qt::DisplayRole) return Q(list_->Columns()[static_cast<std::size_t>(section)].text);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

Qt::ItemFlags ItemsModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const bool full_row = list_ != nullptr && list_->FullRowSelect();
  if (index.column() == 0 || full_row) return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  return Qt::ItemIsEnabled;
}

}  // namespace zandrel::ui::qt
