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
    : PropertyPeer(control), impl_(impl), widget_(widget) {
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
      connect(box, &QCheckBox::clicked, this, [this] {
        if (applying_ || detached_ || impl_.fatal) return;
        static_cast<CheckBox&>(control_).FireClick();
        Update(Property::Value);  // the model decides, not the widget
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
      // Qt reports a double click beside the rows with an invalid index: only a row's counts.
      connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (applying_ || detached_ || impl_.fatal || !index.isValid()) return;
        static_cast<ListView&>(control_).FireDblClick();
      });
      connect(view->header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (applying_ || detached_ || impl_.fatal || section < 0) return;
        static_cast<ListView&>(control_).UserClickedColumn(static_cast<std::size_t>(section));
      });
      static_cast<ListTreeView*>(view)->typed = [this](const std::string& typed) {
        if (applying_ || detached_ || impl_.fatal) return;
        static_cast<ListView&>(control_).UserTyped(typed);
      };
      connect(view->header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (applying_ || detached_ || section < 0) return;
        static_cast<ListView&>(control_).UserResizedColumn(static_cast<std::size_t>(section), impl_.ToTwips(size));
      });
      break;
    }
    default: break;
  }
}

void WidgetPeer::Detach() {
  detached_ = true;
  if (items_ != nullptr) items_->Detach();
  disconnect();
}

void WidgetPeer::ApplyAll() {
  for (Property p : {Property::Geometry, Property::Font, Property::Colors, Property::ToolTip, Property::Caption,
                     Property::Text, Property::Value, Property::Pictures, Property::ListOptions, Property::Columns,
                     Property::Items, Property::Locked, Property::Visible, Property::Enabled})
    Update(p);
  if (items_ != nullptr) FlushItems();
}

void WidgetPeer::ApplyVisible(bool visible) { widget_->setVisible(visible); }

void WidgetPeer::ApplyEnabled(bool enabled) { widget_->setEnabled(enabled); }

void WidgetPeer::ApplyGeometry(const Rect& r) {
  widget_->setGeometry(impl_.ToPixels(r.left), impl_.ToPixels(r.top), impl_.ToPixels(r.width),
                       impl_.ToPixels(r.height));
}

void WidgetPeer::ApplyText(const std::string& text) {
  QWidget* w = widget_;
  switch (control_.Kind()) {
    case ControlKind::Label: static_cast<QLabel*>(w)->setText(Q(text)); break;
    case ControlKind::CheckBox: static_cast<QCheckBox*>(w)->setText(Q(text)); break;
    case ControlKind::Frame: static_cast<QGroupBox*>(w)->setTitle(Q(text)); break;
    case ControlKind::Button: static_cast<PictureButton*>(w)->setText(Q(text)); break;
    case ControlKind::TextBox: {
      auto* edit = static_cast<QLineEdit*>(w);
      const QString shown = Q(text);
      if (edit->text() != shown) edit->setText(shown);
      break;
    }
    default: break;
  }
}

void WidgetPeer::ApplyChecked(bool checked) { static_cast<QCheckBox*>(widget_.data())->setChecked(checked); }

void WidgetPeer::ApplyLocked(bool locked) { static_cast<QLineEdit*>(widget_.data())->setReadOnly(locked); }

void WidgetPeer::ApplyFont(const Font& font) { widget_->setFont(ToQFont(font)); }

void WidgetPeer::ApplyToolTip(const std::string& text) { widget_->setToolTip(Q(text)); }

void WidgetPeer::ApplyFocus() { impl_.FocusWidget(widget_); }

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
      static_cast<PictureView*>(widget_.data())->SetImage(DecodedImage(static_cast<PictureBox&>(control_).Picture()));
      break;
    default: break;
  }
}

}  // namespace zandrel::ui::qt
