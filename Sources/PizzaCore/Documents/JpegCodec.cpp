#include "JpegCodec.hpp"

// jpeglib.h expects the standard C declarations before it.
#include <cstdio>

#include <jpeglib.h>
// After jpeglib.h, whose configuration decides which messages exist.
#include <jerror.h>

#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace pizzacore::documents {
namespace {

// libjpeg reports errors by calling error_exit, which must not return; it jumps back to the
// call that started the work. Warnings that mean part of the picture is missing or garbled end
// the work the same way, so that such a file is refused instead of shown with a grey or
// scrambled remainder; the harmless ones (stray bytes between markers, odd metadata) are ignored.
struct JpegErrors {
    jpeg_error_mgr manager;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    // Set once the header has been read: a failure before it means the bytes are no JPEG that
    // can be read at all, one after it that this JPEG is refused.
    volatile bool headerRead = false;
    // Set once every row of the picture has been decoded.
    volatile bool pictureRead = false;
    // Set when the data ran out before an end marker.
    volatile bool endReached = false;
};

[[noreturn]] void jpegFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

bool losesPicture(int code) {
    switch (code) {
    case JWRN_HIT_MARKER:     // the compressed data stops (at a marker, or the file's end) too early
    case JWRN_HUFF_BAD_CODE:  // garbled data
    case JWRN_ARITH_BAD_CODE: // garbled data
    case JWRN_MUST_RESYNC:    // data lost before a restart marker
        return true;
    default:
        return false;
    }
}

void jpegMessage(j_common_ptr info, int level) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    if (level >= 0 || errors->pictureRead) return;
    // The decoder reads ahead, so the end of the file is also met by a file that lacks only its
    // end marker; it matters only when data was really missing, which the decoder reports next.
    if (info->err->msg_code == JWRN_JPEG_EOF)
        errors->endReached = true;
    else if (losesPicture(info->err->msg_code))
        jpegFailed(info);
}
void jpegOutput(j_common_ptr) {}

// Called by libjpeg as it reads the scans of a progressive file.
void jpegProgress(j_common_ptr info) {
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > maximumScans)
        jpegFailed(info);
}

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

std::uint64_t roundedUp(std::uint64_t value, std::uint64_t step) {
    return (value + step - 1) / step * step;
}

// What libjpeg sets aside at once for the coefficients of a file read in several scans: every
// 8 × 8 block of every component, padded to whole sampling units, 128 bytes each.
std::uint64_t coefficientBytes(const jpeg_decompress_struct& info) {
    std::uint64_t total = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        total += roundedUp(component.width_in_blocks, std::uint64_t(component.h_samp_factor)) *
                 roundedUp(component.height_in_blocks, std::uint64_t(component.v_samp_factor)) *
                 sizeof(JBLOCK);
    }
    return total;
}

} // namespace

// The setjmp frame holds nothing that needs destruction; `pixels` belongs to the caller.
JpegResult decodeJpeg(std::span<const std::uint8_t> bytes, int boxWidth, int boxHeight, Pixels& pixels,
                      JpegHeader& header) {
    if (bytes.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF)
        return JpegResult::unreadable;
    jpeg_decompress_struct info;
    JpegErrors errors;
    quiet(errors);
    info.err = &errors.manager;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        pixels = Pixels();
        return errors.headerRead ? JpegResult::refused : JpegResult::unreadable;
    }
    jpeg_create_decompress(&info);
    errors.progress.progress_monitor = jpegProgress;
    info.progress = &errors.progress;
    // With no backing store, libjpeg fails instead of taking more than this for the arrays it
    // holds whole; the check of the coefficients below normally refuses such a file first.
    info.mem->max_memory_to_use = static_cast<long>(maximumCoefficientBytes + (32u << 20));
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    errors.headerRead = true;

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
    // What the header claims decides before anything is set aside for it.
    const bool severalScans = jpeg_has_multiple_scans(&info);
    if (std::uint64_t(info.image_width) * info.image_height > maximumPixels ||
        (severalScans && coefficientBytes(info) > maximumCoefficientBytes)) {
        jpeg_destroy_decompress(&info);
        return JpegResult::refused;
    }

    const bool turned = swapsSides(header.orientation);
    auto [neededWidth, neededHeight] =
        fittedSize(turned ? height : width, turned ? width : height, boxWidth, boxHeight);
    if (turned) std::swap(neededWidth, neededHeight);
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
    jpeg_start_decompress(&info);
    pixels.allocate(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data.data() + std::size_t(info.output_scanline) * pixels.stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    errors.pictureRead = true;
    // A file read in several scans that ends without its end marker may lack whole scans, which
    // the decoder cannot tell from a picture that needs no more of them.
    if (errors.endReached && severalScans) {
        jpeg_destroy_decompress(&info);
        pixels = Pixels();
        return JpegResult::refused;
    }
    if (cmyk) {
        // Adobe writes CMYK inverted, and so do nearly all files that carry it; R = C'·K' with
        // the inverted values.
        for (int y = 0; y < pixels.height; ++y) {
            std::uint32_t* row = pixels.row(y);
            const std::uint8_t* in = reinterpret_cast<const std::uint8_t*>(row);
            for (int x = 0; x < pixels.width; ++x) {
                const unsigned c = in[4 * x], m = in[4 * x + 1], yellow = in[4 * x + 2], k = in[4 * x + 3];
                row[x] = 0xFF000000u | (c * k / 255) << 16 | (m * k / 255) << 8 | (yellow * k / 255);
            }
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return JpegResult::decoded;
}

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

} // namespace pizzacore::documents
