#include <Velmora/Views/ThumbnailCache.hpp>

#include <QBuffer>
#include <QHash>
#include <QImageReader>

#include <algorithm>

namespace velmora {

namespace {

// Pictures larger than this many pixels are not decoded: a stored picture of a couple of
// megabytes can describe one that would need gigabytes once decoded.
constexpr qint64 maximumPixels = qint64{64} * 1024 * 1024;

QImage decode(QByteArray bytes, int side) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    reader.setAllocationLimit(static_cast<int>(maximumPixels * 4 / (1024 * 1024)));
    const QSize full = reader.size();
    if (!full.isValid() || full.isEmpty() || qint64{full.width()} * full.height() > maximumPixels) return {};
    // A decoder that can reduce while decoding (JPEG) keeps large photos cheap; the rest are
    // decoded whole and reduced smoothly below.
    if (reader.supportsOption(QImageIOHandler::ScaledSize) && (full.width() > side || full.height() > side))
        reader.setScaledSize(full.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage decoded = reader.read();
    if (decoded.isNull()) return {};
    if (decoded.width() > side || decoded.height() > side)
        decoded = decoded.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return decoded;
}

} // namespace

ThumbnailCache::ThumbnailCache(qsizetype budgetBytes)
    : cache_(budgetBytes) {}

QImage ThumbnailCache::thumbnail(const std::optional<pizzacore::Bytes>& image, int side) {
    if (!image || image->empty() || side <= 0) return {};
    const auto* data = reinterpret_cast<const char*>(image->data());
    const auto size = static_cast<qsizetype>(image->size());
    QByteArray key;
    key.reserve(24);
    const size_t digest = qHashBits(data, static_cast<size_t>(size), 0x5eed);
    key.append(reinterpret_cast<const char*>(&digest), sizeof digest);
    key.append(reinterpret_cast<const char*>(&size), sizeof size);
    key.append(reinterpret_cast<const char*>(&side), sizeof side);
    if (const QImage* cached = cache_.object(key)) return *cached;

    QImage decoded = decode(QByteArray::fromRawData(data, size), side);
    const qsizetype cost = std::max<qsizetype>(1, decoded.sizeInBytes());
    auto* stored = new QImage(decoded);
    cache_.insert(key, stored, cost);
    return decoded;
}

} // namespace velmora
