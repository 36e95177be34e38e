#include "LogoImage.hpp"

#include "Picture.hpp"

#include <cairo.h>
#include <openssl/sha.h>

#include <algorithm>
#include <mutex>

namespace pizzacore::documents {

// Decoding is split into steps that fill in one LogoImage; this struct is the one friend that
// sets its fields.
struct LogoDecoder {
    static std::shared_ptr<const LogoImage> decode(std::span<const std::uint8_t> bytes);
};

namespace {

// Pixels kept per printed point: about 290 dots per inch, more than roll printers resolve.
constexpr double pixelsPerPoint = 4;

std::string digestOf(std::span<const std::uint8_t> bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

} // namespace

std::shared_ptr<const LogoImage> LogoDecoder::decode(std::span<const std::uint8_t> bytes) {
    // The pixels a logo needs are those of the printed box at the kept resolution.
    Picture picture = decodePicture(bytes, static_cast<int>(LogoImage::boxWidth * pixelsPerPoint),
                                    static_cast<int>(LogoImage::boxHeight * pixelsPerPoint));
    if (picture.status != PictureStatus::decoded) return nullptr;

    auto logo = std::make_shared<LogoImage>();
    // The printed size follows the proportions of the whole image, also when a JPEG was
    // decoded at a fraction of its size.
    logo->width_ = picture.width;
    logo->height_ = picture.height;
    Pixels& kept = picture.pixels;
    if (kept.opaque && picture.jpeg) {
        // A JPEG that needed no change is embedded as it is; otherwise its pixels are compressed once.
        if (picture.untouched && picture.jpegHeader.embeddable)
            logo->jpeg_.assign(bytes.begin(), bytes.end());
        else if (!encodeJpeg(kept, logo->jpeg_))
            logo->jpeg_.clear();
    }
    logo->pixelWidth_ = kept.width;
    logo->pixelHeight_ = kept.height;
    logo->stride_ = kept.stride;
    logo->opaque_ = kept.opaque;
    logo->pixels_ = std::move(kept.data);
    logo->digest_ = digestOf(bytes);
    return logo;
}

std::shared_ptr<const LogoImage> LogoImage::decode(std::span<const std::uint8_t> bytes) {
    return LogoDecoder::decode(bytes);
}

std::shared_ptr<const LogoImage> LogoImage::from(std::span<const std::uint8_t> bytes) {
    // A few logos at most are in use at once (the business logo, one being tried in the
    // settings), so the cache keeps the last four, undecodable bytes included.
    struct Entry {
        std::string digest;
        std::shared_ptr<const LogoImage> logo;
    };
    static std::mutex lock;
    static std::vector<Entry> entries;
    constexpr std::size_t capacity = 4;

    const std::string digest = digestOf(bytes);
    {
        std::lock_guard guard(lock);
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            if (it->digest != digest) continue;
            std::rotate(entries.begin(), it, it + 1);
            return entries.front().logo;
        }
    }
    std::shared_ptr<const LogoImage> logo = decode(bytes);
    std::lock_guard guard(lock);
    entries.insert(entries.begin(), Entry{digest, logo});
    if (entries.size() > capacity) entries.pop_back();
    return logo;
}

cairo_surface_t* LogoImage::surface() const {
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        const_cast<unsigned char*>(pixels_.data()), opaque_ ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32,
        pixelWidth_, pixelHeight_, stride_);
    if (!jpeg_.empty())
        cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, jpeg_.data(), jpeg_.size(), nullptr,
                                    nullptr);
    cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_UNIQUE_ID,
                                reinterpret_cast<const unsigned char*>(digest_.data()), digest_.size(),
                                nullptr, nullptr);
    return surface;
}

} // namespace pizzacore::documents
