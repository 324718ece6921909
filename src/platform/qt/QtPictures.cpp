#include "platform/qt/QtPeers.h"

#include <QBuffer>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/ui/PictureFile.h"

namespace zandrel::ui {

namespace qt {

QImage DecodedImage(const PicturePtr& picture) {
  if (!picture) return {};
  if (!picture->native) {
    QImage image = QImage::fromData(picture->bytes.data(), static_cast<int>(picture->bytes.size()));
    picture->native = std::make_shared<QImage>(ToDisplayFormat(std::move(image)));
  }
  return *std::static_pointer_cast<QImage>(picture->native);
}

}  // namespace qt

namespace {

std::uint32_t Be16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return (std::uint32_t{b[at]} << 8) | std::uint32_t{b[at + 1]};
}

// A JPEG decoder pads a stream cut off inside its image data with grey and
// only warns: the file is whole only when an end-of-image marker follows the
// first scan (entropy-coded data cannot contain FF D9).
bool JpegComplete(const std::vector<std::uint8_t>& b) {
  std::size_t i = 2;
  while (i + 4 <= b.size()) {
    if (b[i] != 0xFF) return false;
    const std::uint8_t marker = b[i + 1];
    if (marker == 0xFF) {
      ++i;
      continue;
    }
    if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      i += 2;
      continue;
    }
    if (marker == 0xDA) {
      for (std::size_t j = i + 2; j + 1 < b.size(); ++j)
        if (b[j] == 0xFF && b[j + 1] == 0xD9) return true;
      return false;
    }
    i += 2 + Be16(b, i + 2);
  }
  return false;
}

bool PngComplete(const std::vector<std::uint8_t>& b) {
  static const char kIend[] = "IEND";
  return std::search(b.begin(), b.end(), kIend, kIend + 4) != b.end();
}

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
  if (format == "jpeg" && !JpegComplete(picture.bytes)) throw invalid;
  if (format == "png" && !PngComplete(picture.bytes)) throw invalid;
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

}  // namespace zandrel::ui
