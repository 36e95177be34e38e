#include "Picture.hpp"

#include <cairo.h>

#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

namespace pizzacore::documents {
namespace {

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

// Decodes the whole PNG (cairo's reader cannot reduce while decoding; a picture cut short fails)
// and keeps only a copy reduced to `width` × `height` at most, so that the full-size pixels are
// held once.
bool decodePng(std::span<const std::uint8_t> bytes, int width, int height, Pixels& pixels) {
    PngReader reader{bytes};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(readPng, &reader);
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
        (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24)) {
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_surface_flush(surface);
    const bool opaque = format == CAIRO_FORMAT_RGB24;
    const int fullWidth = cairo_image_surface_get_width(surface);
    const int fullHeight = cairo_image_surface_get_height(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    if (fullWidth > width || fullHeight > height) {
        pixels = reducedCopy(data, fullWidth, fullHeight, stride, opaque, std::min(width, fullWidth),
                             std::min(height, fullHeight));
    } else {
        pixels.opaque = opaque;
        pixels.allocate(fullWidth, fullHeight);
        for (int y = 0; y < fullHeight; ++y)
            std::memcpy(pixels.row(y), data + std::size_t(y) * stride, std::size_t(fullWidth) * 4);
    }
    cairo_surface_destroy(surface);
    return true;
}

bool isJpeg(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

} // namespace

Picture decodePicture(std::span<const std::uint8_t> bytes, int boxWidth, int boxHeight) {
    Picture picture;
    Pixels stored;
    int orientation = 1;
    int storedWidth = 0;
    int storedHeight = 0;
    if (isJpeg(bytes)) {
        picture.jpeg = true;
        switch (decodeJpeg(bytes, boxWidth, boxHeight, stored, picture.jpegHeader)) {
        case JpegResult::decoded:
            break;
        case JpegResult::unreadable:
            return picture;
        case JpegResult::refused:
            picture.status = PictureStatus::refused;
            return picture;
        }
        orientation = picture.jpegHeader.orientation;
        storedWidth = picture.jpegHeader.width;
        storedHeight = picture.jpegHeader.height;
    } else if (const std::optional<PngInfo> info = pngInfo(bytes)) {
        picture.status = PictureStatus::refused;
        // What the header claims decides before anything is decoded.
        if (info->width == 0 || info->height == 0 ||
            std::uint64_t(info->width) * info->height > maximumPixels)
            return picture;
        orientation = info->orientation;
        storedWidth = static_cast<int>(info->width);
        storedHeight = static_cast<int>(info->height);
        const bool turned = swapsSides(orientation);
        auto [width, height] = fittedSize(turned ? storedHeight : storedWidth,
                                          turned ? storedWidth : storedHeight, boxWidth, boxHeight);
        if (turned) std::swap(width, height);
        if (!decodePng(bytes, width, height, stored)) return picture;
    } else {
        return picture;
    }
    if (stored.width <= 0 || stored.height <= 0) {
        picture.status = PictureStatus::refused;
        return picture;
    }

    const bool turned = swapsSides(orientation);
    picture.width = turned ? storedHeight : storedWidth;
    picture.height = turned ? storedWidth : storedHeight;
    // A JPEG decoded at a fraction of its size may still be larger than the box; it is reduced
    // before it is turned, so that the larger pixels are never copied.
    auto [width, height] = fittedSize(picture.width, picture.height, boxWidth, boxHeight);
    if (turned) std::swap(width, height);
    const bool whole = stored.width == storedWidth && stored.height == storedHeight;
    const bool reduce = stored.width > width || stored.height > height;
    if (reduce) stored = reduced(stored, std::min(width, stored.width), std::min(height, stored.height));
    picture.untouched = whole && !reduce && orientation == 1;
    picture.pixels = oriented(stored, orientation);
    picture.status = PictureStatus::decoded;
    return picture;
}

} // namespace pizzacore::documents
