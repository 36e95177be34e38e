#include "TestImages.hpp"

#include <cairo.h>
#include <zlib.h>

#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace pizzacore::testing {
namespace {

// A big-endian TIFF block with one directory entry: the orientation.
Bytes exifTiff(int orientation) {
    return {'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
            0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<std::uint8_t>(orientation),
            0,    0,    0, 0,  0, 0, 0, 0};
}

void appendBigEndian(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

} // namespace

Bytes jpegImage(int width, int height, const Colours& colours, int quality, int orientation) {
    return jpegImage(width, height, colours, JpegOptions{.quality = quality, .orientation = orientation});
}

Bytes jpegImage(int width, int height, const Colours& colours, const JpegOptions& options) {
    const int quality = options.quality;
    const int orientation = options.orientation;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = options.grey ? 1 : 3;
    info.in_color_space = options.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (options.fullColour)
        for (int c = 0; c < info.num_components; ++c)
            info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    std::vector<jpeg_scan_info> scans;
    if (options.everyBitInItsOwnScan) {
        // Every coefficient of every component alone, first its top bits, then each lower bit.
        for (int c = 0; c < info.num_components; ++c)
            for (int k = 0; k < DCTSIZE2; ++k)
                for (int bit = 10; bit >= 0; --bit) {
                    jpeg_scan_info scan{};
                    scan.comps_in_scan = 1;
                    scan.component_index[0] = c;
                    scan.Ss = scan.Se = k;
                    scan.Ah = bit == 10 ? 0 : bit + 1;
                    scan.Al = bit;
                    scans.push_back(scan);
                }
        info.scan_info = scans.data();
        info.num_scans = static_cast<int>(scans.size());
    } else if (options.progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    if (orientation > 0) {
        Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
        const Bytes tiff = exifTiff(orientation);
        exif.insert(exif.end(), tiff.begin(), tiff.end());
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t colour = colours(x, y);
            if (options.grey) {
                row[x] = static_cast<unsigned char>(colour);
                continue;
            }
            row[3 * x] = static_cast<unsigned char>(colour >> 16);
            row[3 * x + 1] = static_cast<unsigned char>(colour >> 8);
            row[3 * x + 2] = static_cast<unsigned char>(colour);
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes result(buffer, buffer + size);
    std::free(buffer);
    return result;
}

Bytes pngImage(int width, int height, const Colours& colours, int orientation) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            reinterpret_cast<std::uint32_t*>(data + y * stride)[x] = colours(x, y) & 0xFFFFFF;
    cairo_surface_mark_dirty(surface);
    Bytes png;
    cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* bytes, unsigned int length) {
            auto* out = static_cast<Bytes*>(closure);
            out->insert(out->end(), bytes, bytes + length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(surface);
    if (orientation <= 0) return png;

    // The eXIf chunk goes right after the header chunk (8 signature bytes, 25 bytes of IHDR).
    const Bytes tiff = exifTiff(orientation);
    Bytes chunk;
    appendBigEndian(chunk, static_cast<std::uint32_t>(tiff.size()));
    const std::size_t typeAt = chunk.size();
    for (const char c : std::string_view("eXIf"))
        chunk.push_back(static_cast<std::uint8_t>(c));
    chunk.insert(chunk.end(), tiff.begin(), tiff.end());
    appendBigEndian(chunk, static_cast<std::uint32_t>(
                               crc32(0, chunk.data() + typeAt, static_cast<uInt>(chunk.size() - typeAt))));
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());
    return png;
}

Bytes claimingSize(Bytes image, std::uint32_t width, std::uint32_t height) {
    if (image.size() > 33 && image[0] == 0x89 && image[1] == 'P') {
        // The header chunk: length, "IHDR", width, height, five one-byte fields, then its CRC.
        Bytes header;
        appendBigEndian(header, width);
        appendBigEndian(header, height);
        std::copy(header.begin(), header.end(), image.begin() + 16);
        Bytes crc;
        appendBigEndian(crc, static_cast<std::uint32_t>(crc32(0, image.data() + 12, 17)));
        std::copy(crc.begin(), crc.end(), image.begin() + 29);
        return image;
    }
    // The first frame header (baseline, extended or progressive): marker, length, precision,
    // height and width, big-endian.
    for (std::size_t at = 2; at + 9 < image.size(); ++at)
        if (image[at] == 0xFF && image[at + 1] >= 0xC0 && image[at + 1] <= 0xC2) {
            image[at + 5] = static_cast<std::uint8_t>(height >> 8);
            image[at + 6] = static_cast<std::uint8_t>(height);
            image[at + 7] = static_cast<std::uint8_t>(width >> 8);
            image[at + 8] = static_cast<std::uint8_t>(width);
            return image;
        }
    throw std::invalid_argument("no PNG header chunk or JPEG frame header");
}

} // namespace pizzacore::testing
