#include "ui/qt/QtPeers.h"

#include <QBuffer>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "ui/PictureFile.h"

namespace zandrel::ui::qt {

namespace {

// The image in the form the screen draws fastest: opaque pictures as RGB32,
// others as premultiplied ARGB32. Painting then copies pixels, converting none.
QImage ToDisplayFormat(QImage image) {
  if (image.isNull()) return image;
  const QImage::Format target = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
  if (image.format() != target) image.convertTo(target);
  return image;
}

}  // namespace

std::size_t PixelBytes(const DecodedPicture& picture) {
  return static_cast<std::size_t>(picture.image.sizeInBytes()) + sizeof(DecodedPicture);
}

QImage DecodedImage(const PicturePtr& picture) {
  if (!picture) return {};
  if (!picture->native) {
    QImage image = QImage::fromData(picture->bytes.data(), static_cast<int>(picture->bytes.size()));
    picture->native = std::make_shared<QImage>(ToDisplayFormat(std::move(image)));
  }
  return *std::static_pointer_cast<QImage>(picture->native);
}

namespace {

// The whole of a regular file, read in one go; false when it is missing, not a
// regular file or cannot be read.
bool ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  std::size_t size = 0;
  if (ok) out.resize(static_cast<std::size_t>(st.st_size) + 1);  // one spare byte shows a file that grew
  while (ok) {
    if (size == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd, out.data() + size, out.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
  }
  ::close(fd);
  out.resize(ok ? size : 0);
  return ok;
}

// Decodes and checks the whole file; throws 481 when it is no complete picture
// of the size its header gives.
std::shared_ptr<const qt::DecodedPicture> DecodePicture(const Picture& picture) {
  const RuntimeError invalid{481, "Invalid picture: " + picture.source};
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(picture.bytes.data()),
                                            static_cast<qsizetype>(picture.bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setDecideFormatFromContent(true);
  const QByteArray format = reader.format();  // empty once read() has run
  if (format.isEmpty()) throw invalid;
  QImage image = reader.read();
  if (image.isNull() || image.width() != picture.widthPx || image.height() != picture.heightPx) throw invalid;
  if (!PictureBytesComplete(format.toStdString(), picture.bytes)) throw invalid;
  auto decoded = std::make_shared<qt::DecodedPicture>();
  decoded->image = qt::ToDisplayFormat(std::move(image));
  decoded->format = format.toStdString();
  return decoded;
}

}  // namespace

PicturePtr QtPlatform::LoadPicture(const std::string& path) {
  // Throws 53 or 481 with the file named. The file is read at every load;
  // bytes that were decoded before passed every check then and pass them now,
  // so only bytes not seen yet meet the decoder.
  std::vector<std::uint8_t> bytes;
  if (ReadRegularFile(path, bytes)) {
    if (std::shared_ptr<const qt::DecodedPicture> known = impl_->pictures.Find(bytes)) {
      auto picture = std::make_shared<Picture>();
      picture->source = path;
      picture->format = known->format;
      picture->widthPx = known->image.width();
      picture->heightPx = known->image.height();
      picture->bytes = std::move(bytes);
      picture->native = std::const_pointer_cast<QImage>(std::shared_ptr<const QImage>(known, &known->image));
      return picture;
    }
  }
  // New bytes, or a file that cannot be read: the full reading, which names
  // the fault, then the decoder. The picture is new and ours alone until
  // returned, so it may still be completed here.
  auto picture = std::const_pointer_cast<Picture>(ReadPictureFile(path));
  std::shared_ptr<const qt::DecodedPicture> decoded = DecodePicture(*picture);
  impl_->pictures.Insert(picture->bytes, decoded);
  picture->format = decoded->format;
  // Shared, never written: a picture's image changes only by a new load.
  picture->native = std::const_pointer_cast<QImage>(std::shared_ptr<const QImage>(decoded, &decoded->image));
  return picture;
}

}  // namespace zandrel::ui::qt
