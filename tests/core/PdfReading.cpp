#include "PdfReading.hpp"

#include <poppler-document.h>
#include <poppler-page.h>

#include <cmath>
#include <memory>
#include <stdexcept>

namespace pizzacore::testing {

std::vector<std::string> PdfPage::texts() const {
    std::vector<std::string> result;
    for (const PdfLine& line : lines)
        result.push_back(line.text);
    return result;
}

const PdfLine* PdfPage::find(std::string_view prefix) const {
    for (const PdfLine& line : lines)
        if (std::string_view(line.text).starts_with(prefix)) return &line;
    return nullptr;
}

std::optional<std::size_t> PdfPage::indexOf(std::string_view prefix) const {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (std::string_view(lines[i].text).starts_with(prefix)) return i;
    return std::nullopt;
}

PdfFile readPdf(const Bytes& pdf) {
    std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
        reinterpret_cast<const char*>(pdf.data()), static_cast<int>(pdf.size())));
    if (!document) throw std::runtime_error("poppler cannot read the PDF");
    PdfFile file;
    for (int i = 0; i < document->pages(); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        PdfPage result;
        const poppler::rectf box = page->page_rect(poppler::media_box);
        result.width = box.width();
        result.height = box.height();
        // Words come in reading order; a word whose box sits at the height of the previous one
        // continues its line.
        bool spaceBefore = false;
        for (const poppler::text_box& word : page->text_list(poppler::page::text_list_include_font)) {
            const poppler::rectf r = word.bbox();
            const poppler::byte_array utf8 = word.text().to_utf8();
            const std::string text(utf8.begin(), utf8.end());
            const bool bold = word.get_font_name().find("Bold") != std::string::npos;
            if (!result.lines.empty() && std::fabs(result.lines.back().top - r.top()) < 1.0) {
                PdfLine& line = result.lines.back();
                if (spaceBefore) line.text += ' ';
                line.text += text;
            } else {
                result.lines.push_back({text, r.left(), r.top(), r.bottom(), word.get_font_size(), bold});
            }
            spaceBefore = word.has_space_after();
        }
        file.pages.push_back(std::move(result));
    }
    return file;
}

} // namespace pizzacore::testing
