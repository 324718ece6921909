#include "platform/qt/QtPeers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <cmath>

namespace zandrel::ui::qt {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

QFont ToQFont(const Font& font) {
  QFont f(Q(font.name));
  f.setPointSizeF(font.size);
  f.setBold(font.bold);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

QColor ToQColor(Color color) { return QColor(color.r, color.g, color.b); }

QImage DecodedImage(const PicturePtr& picture) {
  if (!picture) return {};
  if (!picture->native) {
    QImage image = QImage::fromData(picture->bytes.data(), static_cast<int>(picture->bytes.size()));
    picture->native = std::make_shared<QImage>(ToDisplayFormat(std::move(image)));
  }
  return *std::static_pointer_cast<QImage>(picture->native);
}

// --- PictureButton ---------------------------------------------------------

PictureButton::PictureButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureButton::SetLook(bool graphical, QImage normal, QImage disabled, QImage down) {
  graphical_ = graphical;
  normal_ = std::move(normal);
  disabled_ = std::move(disabled);
  down_ = std::move(down);
  update();
}

void PictureButton::SetFace(QColor face, QColor text) {
  face_ = face;
  text_ = text;
  update();
}

QSize PictureButton::sizeHint() const { return normal_.isNull() ? QSize(75, 23) : normal_.size(); }

void PictureButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  const bool down = isDown();
  p.fillRect(r, face_);

  const QImage* picture = nullptr;
  if (graphical_) {
    if (!isEnabled() && !disabled_.isNull())
      picture = &disabled_;
    else if (down && !down_.isNull())
      picture = &down_;
    else if (!normal_.isNull())
      picture = &normal_;
  }
  // Without a picture of its own for the pressed state the face moves by a
  // pixel, as a pressed button does.
  const int shift = down && (picture == nullptr || picture != &down_) ? 1 : 0;
  if (picture != nullptr) {
    const QPoint at((r.width() - picture->width()) / 2 + shift, (r.height() - picture->height()) / 2 + shift);
    p.drawImage(at, *picture);
  } else {
    // A plain bevel: raised, or sunken while held down.
    const QColor light(255, 255, 255), mid(160, 160, 160), dark(64, 64, 64), soft(223, 223, 223);
    auto line = [&](QColor c, int x1, int y1, int x2, int y2) {
      p.setPen(c);
      p.drawLine(x1, y1, x2, y2);
    };
    const int w = r.width() - 1, h = r.height() - 1;
    if (down) {
      line(dark, 0, 0, w, 0);
      line(dark, 0, 0, 0, h);
      line(mid, 1, 1, w - 1, 1);
      line(mid, 1, 1, 1, h - 1);
      line(light, 0, h, w, h);
      line(light, w, 0, w, h);
    } else {
      line(soft, 0, 0, w, 0);
      line(soft, 0, 0, 0, h);
      line(light, 1, 1, w - 1, 1);
      line(light, 1, 1, 1, h - 1);
      line(dark, 0, h, w, h);
      line(dark, w, 0, w, h);
      line(mid, 1, h - 1, w - 1, h - 1);
      line(mid, w - 1, 1, w - 1, h - 1);
    }
  }
  if (!text().isEmpty()) {
    p.setFont(font());
    QRect tr = r.translated(shift, shift);
    if (isEnabled()) {
      p.setPen(text_);
      p.drawText(tr, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    } else {
      p.setPen(Qt::white);
      p.drawText(tr.translated(1, 1), Qt::AlignCenter | Qt::TextShowMnemonic, text());
      p.setPen(QColor(128, 128, 128));
      p.drawText(tr, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
  }
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = r.adjusted(3, 3, -3, -3);
    option.backgroundColor = face_;
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
  }
}

void PictureButton::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (!event->isAutoRepeat()) animateClick();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

// --- WrappingLabel ----------------------------------------------------------

WrappingLabel::WrappingLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setContentsMargins(0, 0, 0, 0);
}

void WrappingLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font());
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  QTextOption option(Qt::AlignLeft | Qt::AlignTop);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  p.drawText(QRectF(contentsRect()), text(), option);
}

// --- FrameBox ---------------------------------------------------------------

FrameBox::FrameBox(QWidget* parent) : QGroupBox(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void FrameBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor back = palette().color(QPalette::Window);
  p.fillRect(rect(), back);

  // The etched edge: a shadow line with a highlight line one pixel inside it
  // at the top and left, outside it at the bottom and right.
  const QFontMetrics metrics(font());
  const int top = std::max(0, metrics.height() / 2 - 1);
  const int w = width(), h = height();
  if (w >= 2 && h - top >= 2) {
    p.setPen(QColor(255, 255, 255));
    p.drawRect(1, top + 1, w - 2, h - top - 2);
    p.setPen(QColor(128, 128, 128));
    p.drawRect(0, top, w - 2, h - top - 2);
  }

  const QString caption = title();
  if (caption.isEmpty()) return;
  const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextShowMnemonic;
  const QRect text = metrics.boundingRect(QRect(7, 0, std::max(0, w - 14), metrics.height()), flags, caption)
                         .intersected(QRect(7, 0, std::max(0, w - 14), metrics.height()));
  // One pixel of background around the caption breaks the line.
  p.fillRect(text.adjusted(-1, 0, 1, 1), back);
  p.setFont(font());
  if (isEnabled()) {
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(text, flags, caption);
  } else {
    p.setPen(QColor(255, 255, 255));
    p.drawText(text.translated(1, 1), flags, caption);
    p.setPen(QColor(128, 128, 128));
    p.drawText(text, flags, caption);
  }
}

// --- PictureView ------------------------------------------------------------

PictureView::PictureView(QWidget* parent, bool opaque) : QWidget(parent), opaque_(opaque) {
  if (opaque_) setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::SetImage(QImage image) {
  // The same decoded pixels again (a file reread with the same bytes): nothing to redraw.
  if (image.cacheKey() == image_.cacheKey()) return;
  image_ = std::move(image);
  update();
}

void PictureView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  if (opaque_) {
    // Only what an opaque picture leaves uncovered needs the background.
    QRegion background(event->rect());
    if (!image_.isNull() && !image_.hasAlphaChannel()) background -= QRect(QPoint(0, 0), image_.size());
    for (const QRect& r : background) p.fillRect(r, palette().color(QPalette::Window));
  }
  if (!image_.isNull()) p.drawImage(QPoint(0, 0), image_);
}

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
  if (list_ == nullptr || !index.isValid() || role != Qt::DisplayRole) return {};
  const auto row = static_cast<std::size_t>(index.row());
  if (row >= list_->Count()) return {};  // rows went away; a reset is on its way
  const ListItem& item = list_->Items()[row];
  switch (index.column()) {
    case 0: return Q(item.text);
    case 1: return Q(item.sub1);
    case 2: return Q(item.sub2);
    default: return QString();
  }
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

// --- WindowWidget -----------------------------------------------------------

WindowWidget::WindowWidget(Window& window, Qt::WindowFlags flags) : QWidget(nullptr, flags), window_(&window) {}

void WindowWidget::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && window_ != nullptr) {
    const bool minimized = isMinimized();
    if (window_->Minimized() != minimized) window_->SetMinimized(minimized);
  }
}

void WindowWidget::closeEvent(QCloseEvent* event) { event->ignore(); }

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

void WidgetPeer::ApplyListOptions() {
  if (control_.Kind() != ControlKind::ListView) return;
  auto* view = static_cast<QTreeView*>(widget_.data());
  auto& list = static_cast<ListView&>(control_);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);  // rows are never edited in place
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setSelectionBehavior(list.FullRowSelect() ? QAbstractItemView::SelectRows
                                                  : QAbstractItemView::SelectItems);
  view->setAllColumnsShowFocus(list.FullRowSelect());
  view->header()->setVisible(list.ReportView() && !list.HideColumnHeaders());
  QPalette pal = view->palette();
  if (list.HideSelection()) {
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Inactive, QPalette::Base));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Inactive, QPalette::Text));
  } else {
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
  }
  view->setPalette(pal);
  view->viewport()->update();
}

void WidgetPeer::ApplyColumns() {
  auto* view = static_cast<QTreeView*>(widget_.data());
  const auto& columns = static_cast<ListView&>(control_).Columns();
  for (std::size_t i = 0; i < columns.size(); ++i)
    view->header()->resizeSection(static_cast<int>(i), impl_.ToPixels(columns[i].width));
}

void WidgetPeer::ApplySelection() {
  if (items_ == nullptr) return;
  auto* view = static_cast<QTreeView*>(widget_.data());
  const long selected = static_cast<ListView&>(control_).SelectedIndex();
  const bool was = applying_;
  applying_ = true;
  if (selected < 0 || selected >= items_->rowCount({})) {
    view->selectionModel()->clear();
  } else {
    const QModelIndex index = items_->index(static_cast<int>(selected), 0);
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
  }
  applying_ = was;
}

void WidgetPeer::ScheduleItems() {
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
  ApplyColumns();
  ApplySelection();
  applying_ = was;
}

// --- TimerPeer --------------------------------------------------------------

TimerPeer::TimerPeer(QtPlatform::Impl& impl, Timer& timer) : impl_(impl), timer_(timer) {
  qtimer_.setTimerType(Qt::PreciseTimer);
  connect(&qtimer_, &QTimer::timeout, this, [this] {
    if (detached_ || impl_.fatal) return;
    timer_.FireTick();
  });
  Update(Property::Interval);
}

void TimerPeer::Update(Property) {
  if (detached_) return;
  if (timer_.Running() && !impl_.fatal)
    qtimer_.start(timer_.EffectiveInterval());
  else
    qtimer_.stop();
}

void TimerPeer::Detach() {
  detached_ = true;
  qtimer_.stop();
  disconnect();
}

// --- WindowPeer -------------------------------------------------------------

WindowPeer::WindowPeer(QtPlatform::Impl& impl, Window& window, WindowWidget* widget)
    : impl_(impl), window_(window), widget_(widget) {}

void WindowPeer::Update(Property what) {
  if (detached_ || widget_ == nullptr) return;
  switch (what) {
    case Property::Caption:
      widget_->setWindowTitle(Q(window_.Caption()));
      break;
    case Property::Geometry:
      widget_->setFixedSize(impl_.ToPixels(window_.ClientWidth()), impl_.ToPixels(window_.ClientHeight()));
      break;
    case Property::WindowState:
      if (window_.Minimized() != widget_->isMinimized()) {
        if (window_.Minimized())
          widget_->showMinimized();
        else
          widget_->showNormal();
      }
      break;
    default:
      break;
  }
}

void WindowPeer::Detach() {
  detached_ = true;
  if (widget_ != nullptr) widget_->Detach();
  disconnect();
}

}  // namespace zandrel::ui::qt
