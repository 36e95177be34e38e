#pragma once

#ifndef Q_MOC_RUN
#include <PizzaCore/Foundation/Bytes.hpp>
#endif

#include <QCache>
#include <QImage>

#include <optional>

namespace velmora {

// Product pictures decoded and scaled once per picture and size, so that painting a list or a
// grid of products never decodes an image again. The key is the picture's content (a 64-bit hash
// and its length), so a picture that is replaced is decoded anew while copies of the document
// that share the same picture reuse it. The main window owns the one cache its screens share; it
// belongs to the user-interface thread.
class ThumbnailCache {
public:
    // Keeps pictures up to about `budgetBytes` of decoded pixels.
    explicit ThumbnailCache(qsizetype budgetBytes = 64 * 1024 * 1024);

    // `image` decoded and scaled to fit a square of `side` pixels (never enlarged), or a null
    // image when there is none or it does not decode.
    QImage thumbnail(const std::optional<pizzacore::Bytes>& image, int side);

private:
    QCache<QByteArray, QImage> cache_;
};

} // namespace velmora
