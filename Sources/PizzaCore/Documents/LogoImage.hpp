#pragma once

// The business logo printed at the top of tickets: PNG or JPEG bytes decoded once, turned
// upright by their EXIF orientation and reduced to the resolution a printed logo needs. The
// decoded logo is immutable and shared; a small cache keyed by the SHA-256 digest of the bytes
// keeps a large logo from being decoded again for every ticket.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace pizzacore::documents {

class LogoImage {
public:
    // The logo of `bytes`, from the cache or decoded now; nothing when the bytes are not a PNG
    // or JPEG image that can be decoded. Safe to call from any thread.
    static std::shared_ptr<const LogoImage> from(std::span<const std::uint8_t> bytes);
    // The same without the cache.
    static std::shared_ptr<const LogoImage> decode(std::span<const std::uint8_t> bytes);

    // The upright size of the original image in pixels, which decides its printed size.
    int width() const { return width_; }
    int height() const { return height_; }
    // The size of the pixels kept, at most the printed size at about 300 dots per inch.
    int pixelWidth() const { return pixelWidth_; }
    int pixelHeight() const { return pixelHeight_; }
    // The JPEG a PDF embeds as it is, when the logo is opaque: the original file when it is
    // already upright and small, otherwise the reduced pixels compressed once.
    const std::vector<std::uint8_t>& jpeg() const { return jpeg_; }

    // A new cairo surface over the pixels, carrying the JPEG for PDF output. The caller destroys
    // it before this logo goes away.
    cairo_surface_t* surface() const;

    // The printed size is fitted into this box (points), keeping the proportions.
    static constexpr double boxWidth = 70;
    static constexpr double boxHeight = 45;

private:
    int width_ = 0;
    int height_ = 0;
    int pixelWidth_ = 0;
    int pixelHeight_ = 0;
    int stride_ = 0;
    bool opaque_ = true;
    std::vector<std::uint8_t> pixels_;
    std::vector<std::uint8_t> jpeg_;
    std::string digest_;

    friend struct LogoDecoder;
};

} // namespace pizzacore::documents
