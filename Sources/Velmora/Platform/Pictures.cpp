#include <Velmora/Platform/Pictures.hpp>

#include <cstring>

namespace velmora {

namespace documents = pizzacore::documents;

QImage toImage(const documents::Pixels& pixels) {
    if (pixels.width <= 0 || pixels.height <= 0) return {};
    QImage image(pixels.width, pixels.height,
                 pixels.opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return {};
    const std::size_t rowBytes = std::size_t(pixels.width) * 4;
    for (int y = 0; y < pixels.height; ++y) {
        const std::uint8_t* from = pixels.data.data() + std::size_t(y) * pixels.stride;
        std::memcpy(image.scanLine(y), from, rowBytes);
        // Both keep a pixel in one native 32-bit word; an opaque pixel's unused byte is whatever
        // the decoder left there, and Qt expects it full.
        if (pixels.opaque) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < pixels.width; ++x)
                row[x] |= 0xFF000000u;
        }
    }
    return image;
}

QImage decodePicture(std::span<const std::uint8_t> bytes, QSize box) {
    if (bytes.empty() || box.isEmpty()) return {};
    const documents::Picture picture = documents::decodePicture(bytes, box.width(), box.height());
    if (picture.status != documents::PictureStatus::decoded) return {};
    return toImage(picture.pixels);
}

QImage decodePicture(const std::optional<pizzacore::Bytes>& bytes, QSize box) {
    return bytes ? decodePicture(std::span<const std::uint8_t>(*bytes), box) : QImage();
}

bool PictureLoader::Request::operator==(const Request& other) const {
    if (!bytes || !other.bytes) return !bytes && !other.bytes;
    return box == other.box && (bytes == other.bytes || *bytes == *other.bytes);
}

PictureLoader::PictureLoader(QObject* parent)
    : QObject(parent) {}

PictureLoader::~PictureLoader() {
    if (worker_.joinable()) worker_.join();
}

void PictureLoader::load(const std::optional<pizzacore::Bytes>& bytes, QSize box) {
    Request request;
    if (bytes && !bytes->empty() && !box.isEmpty()) {
        // The bytes are compared before they are copied: the same logo comes with every change
        // of the document.
        if (wanted_.bytes && wanted_.box == box && *wanted_.bytes == *bytes) return;
        request = Request{std::make_shared<const pizzacore::Bytes>(*bytes), box};
    }
    if (request == wanted_) return;
    wanted_ = std::move(request);
    if (!wanted_.bytes) {
        shown_ = wanted_;
        image_ = QImage();
        emit loaded();
    } else if (wanted_ == shown_) {
        emit loaded();
    } else if (!running_) {
        start();
    }
    // Otherwise the picture asked for is decoded once the one under way is done.
}

void PictureLoader::start() {
    if (worker_.joinable()) worker_.join();
    running_ = wanted_;
    worker_ = std::thread([this, bytes = wanted_.bytes, box = wanted_.box] {
        QImage image = decodePicture(std::span<const std::uint8_t>(*bytes), box);
        // Delivered on this object's thread; dropped if the object is gone by then.
        QMetaObject::invokeMethod(
            this, [this, image = std::move(image)]() mutable { finished(std::move(image)); },
            Qt::QueuedConnection);
    });
}

void PictureLoader::finished(QImage image) {
    worker_.join();
    const Request done = std::move(*running_);
    running_.reset();
    if (done == wanted_) {
        shown_ = done;
        image_ = std::move(image);
        emit loaded();
    } else if (wanted_.bytes && !(wanted_ == shown_)) {
        start();
    }
}

} // namespace velmora
