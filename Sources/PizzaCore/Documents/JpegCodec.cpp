#include "JpegCodec.hpp"

// jpeglib.h expects the standard C declarations before it.
#include <cstdio>

#include <jpeglib.h>

#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace pizzacore::documents {
namespace {

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

} // namespace

// The setjmp frame holds nothing that needs destruction.
bool decodeJpeg(std::span<const std::uint8_t> bytes, NeededPixels needed, Pixels& pixels,
                JpegHeader& header) {
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
    auto [neededWidth, neededHeight] = needed(swapsSides(header.orientation) ? height : width,
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
