#include <Velmora/Views/ThumbnailCache.hpp>

#include <QBuffer>
#include <QHash>
#include <QImageReader>

#include <algorithm>

namespace velmora {

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

    QByteArray bytes = QByteArray::fromRawData(data, size);
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    // Decoding only as much as the square needs keeps large photos cheap.
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > side || full.height() > side))
        reader.setScaledSize(full.scaled(side, side, Qt::KeepAspectRatio));
    QImage decoded = reader.read();
    if (decoded.isNull())
        decoded = QImage(); // remembered too, so a bad picture is tried once
    else if (decoded.width() > side || decoded.height() > side)
        decoded = decoded.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const qsizetype cost = std::max<qsizetype>(1, decoded.sizeInBytes());
    auto* stored = new QImage(decoded);
    cache_.insert(key, stored, cost);
    return decoded;
}

} // namespace velmora
