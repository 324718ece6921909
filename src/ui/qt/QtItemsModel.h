// Internal to the Qt realisation: the list view's rows as a Qt item model.
#pragma once

#include <QAbstractTableModel>

#include "ui/Controls.h"

namespace zandrel::ui::qt {

// Rows of a model ListView read in place: nothing is copied, so a reset with
// tens of thousands of rows costs only the view's layout.
class ItemsModel : public QAbstractTableModel {
 public:
  explicit ItemsModel(ListView* list) : list_(list) {}
  void Detach();
  void Reset();
  int rowCount(const QModelIndex& parent) const override;
  int columnCount(const QModelIndex& parent) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  ListView* list_;
  int rows_ = 0;
  int columns_ = 0;
};

}  // namespace zandrel::ui::qt
