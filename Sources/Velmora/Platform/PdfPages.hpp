#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velmora {

// The size of one PDF page's media box, in points.
struct PageSize {
    double width = 0;
    double height = 0;
};

// The media box of every page of the PDF document in `pdf`, in page order; nothing when the
// bytes are not a readable PDF or hold no page.
std::optional<std::vector<PageSize>> pdfPageSizes(std::span<const std::uint8_t> pdf);

} // namespace velmora
