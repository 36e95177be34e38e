#include <Velmora/Platform/PdfPages.hpp>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <climits>
#include <memory>

namespace velmora {

namespace {

// Poppler writes its complaints about damaged files to standard error; the caller reports the
// failure in its own words instead.
void quiet(const std::string&, void*) {}

} // namespace

std::optional<std::vector<PageSize>> pdfPageSizes(std::span<const std::uint8_t> pdf) {
    if (pdf.empty() || pdf.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    poppler::set_debug_error_function(quiet, nullptr);
    // Poppler reads the bytes in place; they outlive the document.
    const std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
        reinterpret_cast<const char*>(pdf.data()), static_cast<int>(pdf.size())));
    if (!document || document->is_locked()) return std::nullopt;
    const int count = document->pages();
    if (count <= 0) return std::nullopt;
    std::vector<PageSize> sizes;
    sizes.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        const std::unique_ptr<poppler::page> page(document->create_page(index));
        if (!page) return std::nullopt;
        const poppler::rectf box = page->page_rect(poppler::media_box);
        sizes.push_back({box.width(), box.height()});
    }
    return sizes;
}

} // namespace velmora
