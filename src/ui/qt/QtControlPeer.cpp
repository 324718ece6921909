#include "ui/qt/QtPeers.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTreeView>

#include <algorithm>
#include <cmath>

namespace zandrel::ui::qt {

// --- WidgetPeer -------------------------------------------------------------

WidgetPeer::WidgetPeer(QtPlatform::Impl& impl, Control& control, QWidget* widget)
    : impl_(impl), control_(control), widget_(widget) {
  switch (control_.Kind()) {
    case ControlKind::TextBox: {
      auto* edit = static_cast<QLineEdit*>(widget);
      connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!applying_ && !detached_) static_cast<TextBox&>(control_).UserEdited(text.toStdString());
      });
      break;
    }
    case ControlKind::CheckBox: {
      auto* box = static_cast<QCheckBox*>(widget);
      connect(box, &QCheckBox::clicked, this, [this, box] {
        if (applying_ || detached_ || impl_.fatal) return;
        auto& check = static_cast<CheckBox&>(control_);
        check.FireClick();
        if (detached_) return;
        applying_ = true;
        box->setChecked(check.Value() == 1);  // the model decides, not the widget
        applying_ = false;
      });
      break;
    }
    case ControlKind::Button: {
      auto* button = static_cast<PictureButton*>(widget);
      connect(button, &QAbstractButton::clicked, this, [this] {
        if (applying_ || detached_ || impl_.fatal) return;
        static_cast<Button&>(control_).FireClick();
      });
      break;
    }
    case ControlKind::ListView: {
      auto* view = static_cast<QTreeView*>(widget);
      auto& list = static_cast<ListView&>(control_);
      items_ = new ItemsModel(&list);
      items_->setParent(view);
      view->setModel(items_);
      connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
              [this](const QModelIndex& current) {
                if (applying_ || detached_) return;
                static_cast<ListView&>(control_).UserSelected(current.isValid() ? current.row() : -1);
              });
      connect(view->header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (applying_ || detached_ || section < 0) return;
        static_cast<ListView&>(control_).UserResizedColumn(static_cast<std::size_t>(section),
                                                           impl_.ToTwips(size));
      });
      break;
    }
    default:
      break;
  }
}

void WidgetPeer::Detach() {
  detached_ = true;
  if (items_ != nullptr) items_->Detach();
  disconnect();
}

void WidgetPeer::ApplyAll() {
  for (Property p : {Property::Geometry, Property::Font, Property::Colors, Property::ToolTip,
                     Property::Caption, Property::Text, Property::Value, Property::Pictures,
                     Property::ListOptions, Property::Columns, Property::Items, Property::Visible,
                     Property::Enabled})
    Update(p);
  if (items_ != nullptr) FlushItems();
}

void WidgetPeer::Update(Property what) {
  if (detached_ || widget_ == nullptr) return;
  QWidget* w = widget_;
  applying_ = true;
  switch (what) {
    case Property::Visible:
      w->setVisible(control_.Visible());
      break;
    case Property::Enabled:
      w->setEnabled(control_.Enabled());
      break;
    case Property::Geometry: {
      const Rect& r = control_.Geometry();
      w->setGeometry(impl_.ToPixels(r.left), impl_.ToPixels(r.top), impl_.ToPixels(r.width),
                     impl_.ToPixels(r.height));
      break;
    }
    case Property::Caption:
    case Property::Text:
      switch (control_.Kind()) {
        case ControlKind::Label:
          static_cast<QLabel*>(w)->setText(Q(static_cast<Label&>(control_).Caption()));
          break;
        case ControlKind::CheckBox:
          static_cast<QCheckBox*>(w)->setText(Q(static_cast<CheckBox&>(control_).Caption()));
          break;
        case ControlKind::Frame:
          static_cast<QGroupBox*>(w)->setTitle(Q(static_cast<Frame&>(control_).Caption()));
          break;
        case ControlKind::Button:
          static_cast<PictureButton*>(w)->setText(Q(static_cast<Button&>(control_).Caption()));
          break;
        case ControlKind::TextBox: {
          auto* edit = static_cast<QLineEdit*>(w);
          const QString text = Q(static_cast<TextBox&>(control_).Text());
          if (edit->text() != text) edit->setText(text);
          break;
        }
        default:
          break;
      }
      break;
    case Property::Value:
      if (control_.Kind() == ControlKind::CheckBox)
        static_cast<QCheckBox*>(w)->setChecked(static_cast<CheckBox&>(control_).Value() == 1);
      break;
    case Property::Font:
      w->setFont(ToQFont(control_.GetFont()));
      break;
    case Property::Colors:
      ApplyColors();
      break;
    case Property::ToolTip:
      w->setToolTip(Q(control_.ToolTip()));
      break;
    case Property::Pictures:
      ApplyPictures();
      break;
    case Property::Focus:
      impl_.FocusWidget(w);
      break;
    case Property::Items:
      ScheduleItems();
      break;
    case Property::Selection:
      if (items_pending_)
        FlushItems();
      else
        ApplySelection();
      break;
    case Property::Columns:
      if (items_ == nullptr) break;
      // Only a change in the number of columns needs the rows read again.
      if (items_->columnCount({}) != static_cast<int>(static_cast<ListView&>(control_).Columns().size())) {
        FlushItems();
      } else {
        if (items_->columnCount({}) > 0) emit items_->headerDataChanged(Qt::Horizontal, 0, items_->columnCount({}) - 1);
        ApplyColumns();
      }
      break;
    case Property::ListOptions:
      ApplyListOptions();
      break;
    case Property::TabIndex:
    case Property::Interval:
    case Property::WindowState:
      break;
  }
  applying_ = false;
}

void WidgetPeer::ApplyColors() {
  QWidget* w = widget_;
  const QColor back = ToQColor(control_.BackColor());
  const QColor fore = ToQColor(control_.ForeColor());
  QPalette pal = w->palette();
  for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) pal.setColor(role, back);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) pal.setColor(role, fore);
  w->setPalette(pal);
  if (control_.Kind() != ControlKind::Image) w->setAutoFillBackground(true);
  if (control_.Kind() == ControlKind::Button) static_cast<PictureButton*>(w)->SetFace(back, fore);
  if (control_.Kind() == ControlKind::ListView) ApplyListOptions();
}

void WidgetPeer::ApplyPictures() {
  switch (control_.Kind()) {
    case ControlKind::Button: {
      auto& b = static_cast<Button&>(control_);
      static_cast<PictureButton*>(widget_.data())
          ->SetLook(b.Graphical(), DecodedImage(b.Picture()), DecodedImage(b.DisabledPicture()),
                    DecodedImage(b.DownPicture()));
      break;
    }
    case ControlKind::Image:
      static_cast<PictureView*>(widget_.data())->SetImage(DecodedImage(static_cast<Image&>(control_).Picture()));
      break;
    case ControlKind::PictureBox:
      static_cast<PictureView*>(widget_.data())
          ->SetImage(DecodedImage(static_cast<PictureBox&>(control_).Picture()));
      break;
    default:
      break;
  }
}

}  // namespace zandrel::ui::qt
