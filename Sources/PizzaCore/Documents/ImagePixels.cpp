#include "ImagePixels.hpp"

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace pizzacore::documents {
namespace {

std::uint32_t readUnsigned(const std::uint8_t* p, int size, bool little) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value |= static_cast<std::uint32_t>(little ? p[i] : p[size - 1 - i]) << (8 * i);
    return value;
}

} // namespace

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

std::pair<int, int> fittedSize(int width, int height, int boxWidth, int boxHeight) {
    width = std::max(1, width);
    height = std::max(1, height);
    boxWidth = std::max(1, boxWidth);
    boxHeight = std::max(1, boxHeight);
    if (width <= boxWidth && height <= boxHeight) return {width, height};
    const std::int64_t w = width, h = height;
    // Exact integer arithmetic: a 4000 × 3000 photo fitted into 512 × 512 is 512 × 384, not 385.
    if (w * boxHeight >= h * boxWidth)
        return {boxWidth, static_cast<int>(std::max<std::int64_t>(1, (2 * h * boxWidth + w) / (2 * w)))};
    return {static_cast<int>(std::max<std::int64_t>(1, (2 * w * boxHeight + h) / (2 * h))), boxHeight};
}

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
    source = Pixels();
    return result;
}

Pixels reducedCopy(const std::uint8_t* data, int width, int height, int stride, bool opaque, int toWidth,
                   int toHeight) {
    const cairo_format_t layout = opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32;
    Pixels result;
    result.opaque = opaque;
    result.allocate(toWidth, toHeight);
    // cairo only reads the source here.
    cairo_surface_t* from =
        cairo_image_surface_create_for_data(const_cast<std::uint8_t*>(data), layout, width, height, stride);
    cairo_surface_t* to =
        cairo_image_surface_create_for_data(result.data.data(), layout, toWidth, toHeight, result.stride);
    cairo_t* cr = cairo_create(to);
    cairo_scale(cr, double(toWidth) / width, double(toHeight) / height);
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

Pixels reduced(Pixels& source, int width, int height) {
    if (width >= source.width && height >= source.height) return std::move(source);
    Pixels result = reducedCopy(source.data.data(), source.width, source.height, source.stride, source.opaque,
                                width, height);
    source = Pixels();
    return result;
}

} // namespace pizzacore::documents
