// Drives a modal widget of the Qt realisation from inside its loop.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace zandrel::testing {

// Runs `drive` on the next modal widget once it shows.
inline void WhenModalShows(std::function<void(QWidget*)> drive) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, drive] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    drive(modal);
  });
  poll->start();
}

}  // namespace zandrel::testing
