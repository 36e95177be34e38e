#pragma once

// Reads PDF bytes back with poppler, an independent PDF reader: the pages, their sizes and the
// lines of text on each with their positions and fonts.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore::testing {

// One line of text: the words poppler found side by side, joined by single spaces.
struct PdfLine {
    std::string text;
    double left = 0;
    double top = 0;    // top of the glyph boxes, from the top edge of the page
    double bottom = 0; // bottom of the glyph boxes
    double fontSize = 0;
    bool bold = false;
};

struct PdfPage {
    double width = 0;
    double height = 0;
    std::vector<PdfLine> lines;

    std::vector<std::string> texts() const;
    // The first line whose text starts with `prefix`.
    const PdfLine* find(std::string_view prefix) const;
    bool contains(std::string_view prefix) const { return find(prefix) != nullptr; }
    // The position of the first line starting with `prefix` among the lines, if any.
    std::optional<std::size_t> indexOf(std::string_view prefix) const;
};

struct PdfFile {
    std::vector<PdfPage> pages;
};

// Throws std::runtime_error when poppler cannot read the bytes.
PdfFile readPdf(const Bytes& pdf);

} // namespace pizzacore::testing
