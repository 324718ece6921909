#include "ui/qt/QtPeers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

namespace zandrel::ui::qt {

using qt::Q;

namespace {

// A message box as the Win32 one: with Yes and No there is no way out but the
// two buttons (no Escape, no close box); Ctrl+C copies its caption, text and
// buttons between rules of dashes.
class Win32MessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;
  bool trapEscape = false;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (trapEscape && event->key() == Qt::Key_Escape) return;
    if (event->matches(QKeySequence::Copy)) {
      const QString rule = QStringLiteral("---------------------------\n");
      QString buttonTexts;
      for (QAbstractButton* button : buttons()) buttonTexts += button->text() + QStringLiteral("   ");
      QApplication::clipboard()->setText(rule + windowTitle() + QStringLiteral("\n") + rule + text() +
                                         QStringLiteral("\n") + rule + buttonTexts + QStringLiteral("\n") + rule);
      return;
    }
    QMessageBox::keyPressEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    if (trapEscape) {
      event->ignore();
      return;
    }
    QMessageBox::closeEvent(event);
  }
};

// A Win32 filter "desc|pattern|desc|pattern|" as Qt name filters, which carry
// their patterns in parentheses at the end; the dialog shows the descriptions
// alone. "*.*" matches every name, as on Windows, not only names with a dot.
QStringList NameFilters(const std::string& filter) {
  QStringList parts = Q(filter).split(QLatin1Char('|'));
  if (!parts.isEmpty() && parts.back().isEmpty()) parts.removeLast();
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns)
      if (pattern.trimmed() == QStringLiteral("*.*")) pattern = QStringLiteral("*");
    out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return out;
}

// The file-open dialog with Windows' default extension: it is added to a
// typed name only when the name as typed does not exist, so programs without
// an extension can be picked.
class OpenFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  QString defaultExt;

  void accept() override {
    const QStringList files = selectedFiles();
    if (files.size() == 1 && !defaultExt.isEmpty() && !QFileInfo::exists(files.front())) {
      const QString withExt = files.front() + QLatin1Char('.') + defaultExt;
      if (QFileInfo(withExt).isFile()) {
        picked_ = withExt;
        QDialog::accept();
        return;
      }
    }
    QFileDialog::accept();
  }
  // The file chosen, once accepted.
  QString Picked() const {
    if (!picked_.isEmpty()) return picked_;
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.front();
  }

 private:
  QString picked_;
};

}  // namespace

int QtPlatform::MsgBox(const std::string& text, int flags, const std::string& title) {
  Win32MessageBox box(nullptr);
  box.setWindowTitle(Q(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(Q(text));
  switch (flags & MB_ICONMASK) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  QAbstractButton* yes = nullptr;
  QAbstractButton* no = nullptr;
  QAbstractButton* cancel = nullptr;
  const int buttons = flags & MB_TYPEMASK;
  if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) {
    yes = box.addButton(QMessageBox::Yes);
    no = box.addButton(QMessageBox::No);
    yes->setText(QStringLiteral("Да"));
    no->setText(QStringLiteral("Нет"));
    yes->setIcon(QIcon());  // Win32 buttons carry text only
    no->setIcon(QIcon());
    QAbstractButton* byDefault = (flags & MB_DEFMASK) == MB_DEFBUTTON2 ? no : yes;
    if (buttons == MB_YESNOCANCEL) {
      // Escape and the close box answer Cancel, as on Windows.
      cancel = box.addButton(QMessageBox::Cancel);
      cancel->setText(QStringLiteral("Отмена"));
      cancel->setIcon(QIcon());
      box.setEscapeButton(cancel);
      if ((flags & MB_DEFMASK) == MB_DEFBUTTON3) byDefault = cancel;
    } else {
      box.trapEscape = true;
      box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    }
    box.setDefaultButton(static_cast<QPushButton*>(byDefault));
  } else {
    QAbstractButton* ok = box.addButton(QMessageBox::Ok);
    ok->setText(QStringLiteral("OK"));
    ok->setIcon(QIcon());
  }
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (cancel != nullptr && (clicked == cancel || clicked == nullptr)) return IDCANCEL;
  if (yes != nullptr) return clicked == yes ? IDYES : IDNO;
  return IDOK;
}

void QtPlatform::ShowOpen(CommonDialog& dialog) {
  OpenFileDialog box(QApplication::activeWindow());
  box.setOption(QFileDialog::DontUseNativeDialog);
  box.setOption(QFileDialog::HideNameFilterDetails);
  box.setAcceptMode(QFileDialog::AcceptOpen);
  box.setWindowTitle(QStringLiteral("Открыть"));
  box.setFileMode((dialog.Flags & OFN_FILEMUSTEXIST) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  const QStringList filters = NameFilters(dialog.Filter);
  if (!filters.isEmpty()) {
    box.setNameFilters(filters);
    const int index = dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size() ? dialog.FilterIndex : 1;
    box.selectNameFilter(filters[index - 1]);
  }
  if (!dialog.DefaultExt.empty()) {
    QString ext = Q(dialog.DefaultExt);
    while (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
    box.defaultExt = ext;
  }
  if (!dialog.FileName.empty()) {
    const QFileInfo info(Q(dialog.FileName));
    if (info.dir().exists()) box.setDirectory(info.dir());
    box.selectFile(info.fileName());
  }
  box.setWindowModality(Qt::ApplicationModal);
  if (box.exec() != QDialog::Accepted || box.Picked().isEmpty()) {
    if (dialog.CancelError) throw RuntimeError{kCancelErrorNumber, "Cancel was selected."};
    return;
  }
  dialog.FileName = box.Picked().toStdString();
  if (!filters.isEmpty()) {
    const auto chosen = filters.indexOf(box.selectedNameFilter());
    if (chosen >= 0) dialog.FilterIndex = static_cast<int>(chosen) + 1;
  }
}

void QtPlatform::Fatal(const RuntimeError& error) {
  if (impl_->fatal) return;
  impl_->fatal = true;
  // Nothing of the program runs any more: no ticks while the message shows.
  for (auto& [window, r] : impl_->windows) {
    for (auto& [timer, peer] : r.timers) peer->Stop();
    r.top->setEnabled(false);
  }
  if (impl_->cursorOverridden) {
    QApplication::restoreOverrideCursor();
    impl_->cursorOverridden = false;
  }
  Win32MessageBox box(QMessageBox::Critical, Q(kAppTitle), Q(error.description));
  box.setTextFormat(Qt::PlainText);
  QAbstractButton* ok = box.addButton(QMessageBox::Ok);
  ok->setText(QStringLiteral("OK"));
  ok->setIcon(QIcon());
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
  for (auto& [window, r] : impl_->windows) r.top->hide();
  if (impl_->inExec) QCoreApplication::exit(1);
}

}  // namespace zandrel::ui::qt
