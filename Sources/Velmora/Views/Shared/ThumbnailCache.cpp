#include <Velmora/Views/Shared/ThumbnailCache.hpp>

#include <Velmora/Platform/Pictures.hpp>

#include <QHash>

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

    // The core's decoder refuses pictures that would take too much memory or time, and reduces
    // JPEG photos while decoding them.
    QImage decoded = decodePicture(std::span<const std::uint8_t>(*image), QSize(side, side));
    const qsizetype cost = std::max<qsizetype>(1, decoded.sizeInBytes());
    auto* stored = new QImage(decoded);
    cache_.insert(key, stored, cost);
    return decoded;
}

} // namespace velmora
