#include "ui/qt/QtPeers.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTreeView>

#include <algorithm>
#include <cmath>

namespace zandrel::ui::qt {

// --- WidgetPeer: the list view -----------------------------------------------

void WidgetPeer::ApplyListOptions() {
  auto* view = static_cast<QTreeView*>(widget_.data());
  auto& list = static_cast<ListView&>(control_);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);  // rows are never edited in place
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(list.FullRowSelect() ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  view->setAllColumnsShowFocus(list.FullRowSelect());
  view->header()->setVisible(list.ReportView() && !list.HideColumnHeaders());
  QPalette pal = view->palette();
  if (list.HideSelection()) {
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Inactive, QPalette::Base));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Inactive, QPalette::Text));
  } else {
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
  }
  view->setPalette(pal);
  view->viewport()->update();
}

void WidgetPeer::ApplyColumns() {
  if (items_ == nullptr) return;
  // Only a change in the number of columns needs the rows read again.
  if (items_->columnCount({}) != static_cast<int>(static_cast<ListView&>(control_).Columns().size())) {
    FlushItems();
    return;
  }
  if (items_->columnCount({}) > 0) emit items_->headerDataChanged(Qt::Horizontal, 0, items_->columnCount({}) - 1);
  ResizeColumns();
}

void WidgetPeer::ResizeColumns() {
  auto* view = static_cast<QTreeView*>(widget_.data());
  const auto& list = static_cast<ListView&>(control_);
  const auto& columns = list.Columns();
  for (std::size_t i = 0; i < columns.size(); ++i)
    view->header()->resizeSection(static_cast<int>(i), impl_.ToPixels(columns[i].width));
  view->header()->setSortIndicator(list.SortColumn(), list.SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void WidgetPeer::ApplySelection() {
  if (items_pending_) FlushItems();
  else SelectCurrent();
}

void WidgetPeer::SelectCurrent() {
  if (items_ == nullptr) return;
  auto* view = static_cast<QTreeView*>(widget_.data());
  const long selected = static_cast<ListView&>(control_).SelectedIndex();
  const bool was = applying_;
  applying_ = true;
  if (selected < 0 || selected >= items_->rowCount({})) {
    view->selectionModel()->clear();
  } else {
    const QModelIndex index = items_->index(static_cast<int>(selected), 0);
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  applying_ = was;
}

void WidgetPeer::ApplyItems() {
  if (items_ == nullptr) return;
  auto& list = static_cast<ListView&>(control_);
  // Fewer rows than shown: the view must not ask for rows that are gone.
  if (static_cast<int>(list.Count()) < items_->rowCount({})) {
    FlushItems();
    return;
  }
  if (items_pending_) return;
  items_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    if (items_pending_ && !detached_) FlushItems();
  });
}

void WidgetPeer::FlushItems() {
  if (items_ == nullptr || detached_) return;
  items_pending_ = false;
  const bool was = applying_;
  applying_ = true;
  items_->Reset();
  ResizeColumns();
  SelectCurrent();
  applying_ = was;
}

}  // namespace zandrel::ui::qt
