#include "LogoImage.hpp"

#include <cairo.h>
#include <openssl/sha.h>

// jpeglib.h expects the standard C declarations before it.
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
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

// Larger images are refused before any pixel is decoded: a small file can claim a huge size,
// and the memory for it would be taken before decoding found out.
constexpr std::uint64_t maximumPixels = 25'000'000;
// Pixels kept per printed point: about 290 dots per inch, more than roll printers resolve.
constexpr double pixelsPerPoint = 4;

std::string digestOf(std::span<const std::uint8_t> bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

// ---- EXIF orientation ------------------------------------------------------------------------

std::uint32_t readUnsigned(const std::uint8_t* p, int size, bool little) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value |= static_cast<std::uint32_t>(little ? p[i] : p[size - 1 - i]) << (8 * i);
    return value;
}

// The orientation tag (0x0112) of the first image directory of TIFF data, 1 to 8; 1 when it is
// absent or damaged.
int tiffOrientation(std::span<const std::uint8_t> tiff) {
    if (tiff.size() < 8) return 1;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M')) return 1;
    if (readUnsigned(&tiff[2], 2, little) != 42) return 1;
    const std::uint64_t directory = readUnsigned(&tiff[4], 4, little);
    if (directory + 2 > tiff.size()) return 1;
    const std::uint32_t count = readUnsigned(&tiff[directory], 2, little);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t entry = directory + 2 + 12ull * i;
        if (entry + 12 > tiff.size()) return 1;
        if (readUnsigned(&tiff[entry], 2, little) != 0x0112) continue;
        const std::uint32_t value = readUnsigned(&tiff[entry + 8], 2, little);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

// Whether the orientation turns the image a quarter, so that width and height swap.
bool swapsSides(int orientation) {
    return orientation >= 5;
}

// ---- Pixels ----------------------------------------------------------------------------------

// 32-bit pixels in cairo's layout (RGB24 or premultiplied ARGB32), rows `stride` bytes apart.
struct Pixels {
    int width = 0;
    int height = 0;
    int stride = 0;
    bool opaque = true;
    std::vector<std::uint8_t> data;

    void allocate(int w, int h) {
        width = w;
        height = h;
        stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
        data.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h), 0);
    }
    std::uint32_t* row(int y) {
        return reinterpret_cast<std::uint32_t*>(data.data() + std::size_t(y) * stride);
    }
    cairo_format_t format() const { return opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32; }
};

// The pixels turned upright: the EXIF orientation says how the stored rows must be mirrored
// or rotated to be seen as intended.
Pixels oriented(Pixels& source, int orientation) {
    if (orientation == 1) return std::move(source);
    Pixels result;
    result.opaque = source.opaque;
    const int w = source.width;
    const int h = source.height;
    if (swapsSides(orientation))
        result.allocate(h, w);
    else
        result.allocate(w, h);
    for (int y = 0; y < result.height; ++y) {
        std::uint32_t* out = result.row(y);
        for (int x = 0; x < result.width; ++x) {
            int sx = x;
            int sy = y;
            switch (orientation) {
            case 2:
                sx = w - 1 - x;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y;
                sy = h - 1 - x;
                break;
            case 8:
                sx = w - 1 - y;
                sy = x;
                break;
            default:
                break;
            }
            out[x] = source.row(sy)[sx];
        }
    }
    return result;
}

// The pixels reduced to the given size with cairo's area-averaging filter.
Pixels reduced(Pixels& source, int width, int height) {
    if (width >= source.width && height >= source.height) return std::move(source);
    Pixels result;
    result.opaque = source.opaque;
    result.allocate(width, height);
    cairo_surface_t* from = cairo_image_surface_create_for_data(source.data.data(), source.format(),
                                                                source.width, source.height, source.stride);
    cairo_surface_t* to = cairo_image_surface_create_for_data(result.data.data(), result.format(), width,
                                                              height, result.stride);
    cairo_t* cr = cairo_create(to);
    cairo_scale(cr, double(width) / source.width, double(height) / source.height);
    cairo_set_source_surface(cr, from, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(to);
    cairo_surface_destroy(to);
    cairo_surface_destroy(from);
    return result;
}

// The pixel size a logo of upright size width × height needs when printed in the logo box.
std::pair<int, int> neededPixels(int width, int height) {
    const double scale =
        std::min(LogoImage::boxHeight / std::max(1, height), LogoImage::boxWidth / std::max(1, width));
    return {std::max(1, static_cast<int>(std::ceil(width * scale * pixelsPerPoint))),
            std::max(1, static_cast<int>(std::ceil(height * scale * pixelsPerPoint)))};
}

// ---- JPEG ------------------------------------------------------------------------------------

// libjpeg reports errors by calling error_exit, which must not return; it jumps back to the
// call that started the work. Warnings (a truncated file, for example) are ignored: what was
// decoded is shown.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}
void jpegMessage(j_common_ptr, int) {}
void jpegOutput(j_common_ptr) {}

void quiet(JpegErrors& errors) {
    jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFailed;
    errors.manager.emit_message = jpegMessage;
    errors.manager.output_message = jpegOutput;
}

// 32-bit pixels with the blue byte first in memory and the fourth byte unused are cairo's
// RGB24 on a little-endian machine; on a big-endian one the unused byte comes first.
constexpr J_COLOR_SPACE cairoColorSpace =
    std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;

struct JpegHeader {
    int orientation = 1;
    // Whether a PDF reader can show the file's own bytes: 8-bit baseline or progressive
    // Huffman-coded greyscale or YCbCr.
    bool embeddable = false;
    bool decodedWhole = false;
    int width = 0;
    int height = 0;
};

// Decodes a JPEG at 1/1, 1/2, 1/4 or 1/8 of its size, the smallest that still gives the pixels
// the printed logo needs. The setjmp frame holds nothing that needs destruction.
bool decodeJpeg(std::span<const std::uint8_t> bytes, Pixels& pixels, JpegHeader& header) {
    jpeg_decompress_struct info;
    JpegErrors errors;
    quiet(errors);
    info.err = &errors.manager;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);

    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length > 6 &&
            std::memcmp(marker->data, "Exif\0\0", 6) == 0) {
            header.orientation = tiffOrientation({marker->data + 6, marker->data_length - 6});
            break;
        }
    }
    header.embeddable = info.data_precision == 8 && !info.arith_code &&
                        (info.jpeg_color_space == JCS_GRAYSCALE || info.jpeg_color_space == JCS_YCbCr);

    const int width = static_cast<int>(info.image_width);
    const int height = static_cast<int>(info.image_height);
    header.width = width;
    header.height = height;
    auto [neededWidth, neededHeight] = neededPixels(swapsSides(header.orientation) ? height : width,
                                                    swapsSides(header.orientation) ? width : height);
    if (swapsSides(header.orientation)) std::swap(neededWidth, neededHeight);
    unsigned denominator = 8;
    while (denominator > 1 && ((width + denominator - 1) / denominator < unsigned(neededWidth) ||
                               (height + denominator - 1) / denominator < unsigned(neededHeight)))
        denominator /= 2;
    header.decodedWhole = denominator == 1;
    info.scale_num = 1;
    info.scale_denom = denominator;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : cairoColorSpace;
    jpeg_calc_output_dimensions(&info);
    if (std::uint64_t(info.output_width) * info.output_height > maximumPixels) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    pixels.allocate(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data.data() + std::size_t(info.output_scanline) * pixels.stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    if (cmyk) {
        // Adobe writes CMYK inverted, and so do nearly all files that carry it; R = C'·K' with
        // the inverted values.
        for (int y = 0; y < pixels.height; ++y) {
            std::uint32_t* row = pixels.row(y);
            const std::uint8_t* in = reinterpret_cast<const std::uint8_t*>(row);
            for (int x = 0; x < pixels.width; ++x) {
                const unsigned c = in[4 * x], m = in[4 * x + 1], yellow = in[4 * x + 2], k = in[4 * x + 3];
                row[x] = (c * k / 255) << 16 | (m * k / 255) << 8 | (yellow * k / 255);
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// The pixels compressed as a JPEG of good quality, for embedding in PDFs.
bool encodeJpeg(Pixels& pixels, std::vector<std::uint8_t>& out) {
    jpeg_compress_struct info;
    JpegErrors errors;
    quiet(errors);
    info.err = &errors.manager;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(pixels.width);
    info.image_height = static_cast<JDIMENSION>(pixels.height);
    info.input_components = 4;
    info.in_color_space = cairoColorSpace;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = pixels.data.data() + std::size_t(info.next_scanline) * pixels.stride;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    out.assign(buffer, buffer + size);
    std::free(buffer);
    return true;
}

// ---- PNG -------------------------------------------------------------------------------------

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
    info.width = readUnsigned(&bytes[16], 4, false);
    info.height = readUnsigned(&bytes[20], 4, false);
    std::size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const std::uint64_t length = readUnsigned(&bytes[at], 4, false);
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
        if (!decodeJpeg(bytes, pixels, header)) return nullptr;
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
