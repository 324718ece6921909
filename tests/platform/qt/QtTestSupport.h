// Helpers shared by the real-widget tests.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <string>

// Saves a solid picture of `w` x `h` pixels in `format` ("PNG", "JPEG") and
// returns its path inside `dir`.
inline std::string WriteSolidPicture(const QTemporaryDir& dir, const QString& name, int w, int h,
                                     QColor color, const char* format = "PNG") {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(color);
  const QString path = dir.filePath(name);
  image.save(path, format);
  return path.toStdString();
}

// Deletes the widgets of closed windows, as the event loop would.
inline void FlushDeferredDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
