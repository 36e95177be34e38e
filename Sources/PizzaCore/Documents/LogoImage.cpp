#include "LogoImage.hpp"

#include "ImagePixels.hpp"
#include "JpegCodec.hpp"

#include <cairo.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

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

// The pixel size a logo of upright size width × height needs when printed in the logo box.
std::pair<int, int> neededPixels(int width, int height) {
    const double scale =
        std::min(LogoImage::boxHeight / std::max(1, height), LogoImage::boxWidth / std::max(1, width));
    return {std::max(1, static_cast<int>(std::ceil(width * scale * pixelsPerPoint))),
            std::max(1, static_cast<int>(std::ceil(height * scale * pixelsPerPoint)))};
}

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

constexpr std::uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct PngInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int orientation = 1;
};

// The size from the header chunk and the orientation of an eXIf chunk, walking the chunks up
// to the image data.
std::optional<PngInfo> pngInfo(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 33 || std::memcmp(bytes.data(), pngSignature, 8) != 0) return std::nullopt;
    if (std::memcmp(&bytes[12], "IHDR", 4) != 0) return std::nullopt;
    PngInfo info;
    info.width = bigEndian32(&bytes[16]);
    info.height = bigEndian32(&bytes[20]);
    std::size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const std::uint64_t length = bigEndian32(&bytes[at]);
        const std::string_view type(reinterpret_cast<const char*>(&bytes[at + 4]), 4);
        if (type == "IDAT" || at + 12 + length > bytes.size()) break;
        if (type == "eXIf") info.orientation = tiffOrientation(bytes.subspan(at + 8, length));
        at += 12 + length;
    }
    return info;
}

struct PngReader {
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
};

cairo_status_t readPng(void* closure, unsigned char* data, unsigned int length) {
    auto* reader = static_cast<PngReader*>(closure);
    if (reader->bytes.size() - reader->at < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->bytes.data() + reader->at, length);
    reader->at += length;
    return CAIRO_STATUS_SUCCESS;
}

bool decodePng(std::span<const std::uint8_t> bytes, Pixels& pixels) {
    PngReader reader{bytes};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &reader);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
        (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24)) {
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_surface_flush(surface);
    pixels.opaque = format == CAIRO_FORMAT_RGB24;
    pixels.allocate(cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface));
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < pixels.height; ++y)
        std::memcpy(pixels.row(y), data + std::size_t(y) * stride, std::size_t(pixels.width) * 4);
    cairo_surface_destroy(surface);
    return true;
}

bool isJpeg(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

} // namespace

std::shared_ptr<const LogoImage> LogoDecoder::decode(std::span<const std::uint8_t> bytes) {
    Pixels pixels;
    int orientation = 1;
    bool keepOriginal = false;
    int originalWidth = 0;
    int originalHeight = 0;
    if (isJpeg(bytes)) {
        JpegHeader header;
        if (!decodeJpeg(bytes, neededPixels, pixels, header)) return nullptr;
        orientation = header.orientation;
        originalWidth = header.width;
        originalHeight = header.height;
        keepOriginal = header.embeddable && header.decodedWhole && orientation == 1;
    } else if (const std::optional<PngInfo> info = pngInfo(bytes)) {
        if (info->width == 0 || info->height == 0 ||
            std::uint64_t(info->width) * info->height > maximumPixels)
            return nullptr;
        if (!decodePng(bytes, pixels)) return nullptr;
        orientation = info->orientation;
        originalWidth = pixels.width;
        originalHeight = pixels.height;
    } else {
        return nullptr;
    }
    if (pixels.width <= 0 || pixels.height <= 0) return nullptr;

    auto logo = std::make_shared<LogoImage>();
    Pixels upright = oriented(pixels, orientation);
    // The printed size follows the proportions of the whole image, also when a JPEG was
    // decoded at a fraction of its size.
    logo->width_ = swapsSides(orientation) ? originalHeight : originalWidth;
    logo->height_ = swapsSides(orientation) ? originalWidth : originalHeight;
    const auto [neededWidth, neededHeight] = neededPixels(upright.width, upright.height);
    const bool reduce = upright.width > neededWidth || upright.height > neededHeight;
    Pixels kept = reduce ? reduced(upright, std::min(neededWidth, upright.width),
                                   std::min(neededHeight, upright.height))
                         : std::move(upright);
    keepOriginal = keepOriginal && !reduce;
    if (kept.opaque) {
        if (keepOriginal)
            logo->jpeg_.assign(bytes.begin(), bytes.end());
        else if (isJpeg(bytes) && !encodeJpeg(kept, logo->jpeg_))
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
