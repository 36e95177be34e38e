#pragma once

// The drawing layer of printed documents: a PDF written into memory, paragraphs laid out in a
// column with the system's sans-serif font, separator lines and images. Coordinates are PDF
// points with y growing downward from the top edge of the page. Nothing here is shared between
// documents, so separate documents can be drawn on separate threads at the same time.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace pizzacore::documents {

class LogoImage;

// The system font ("sans-serif" of fontconfig) at a size in points, regular or bold.
struct Font {
    double size = 12;
    bool bold = false;
};

// A paragraph laid out with word wrapping in a column of a given width. Its lines are drawn one
// at a time so that a paragraph can continue on the next page.
class Paragraph {
public:
    struct Line {
        double height;  // the height of the line's box
        double ascent;  // from the top of the line's box to its baseline
        double offsetX; // from the column's left edge to the line's start
        double width;   // the width of the line's text
    };

    const std::vector<Line>& lines() const { return lines_; }

private:
    friend class PdfDocument;
    std::shared_ptr<void> layout_;
    std::vector<Line> lines_;
};

class PdfDocument {
public:
    // Roll paper pages are drawn on a tall sheet and come out cut to the height their content
    // needs; all other pages keep the size they were drawn with.
    enum class Pages { fixed, trimmed };

    // Throws PCError "No se pudo crear el PDF." when the PDF cannot be created.
    PdfDocument(double pageWidth, double pageHeight, Pages pages);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    void beginPage();
    // Ends the page. A trimmed page keeps `usedHeight` points from its top edge (the caller
    // bounds it); a fixed page ignores it.
    void endPage(double usedHeight);

    // Lays `text` out in a column `width` points wide. Bytes that are not UTF-8 are laid out as
    // replacement characters.
    Paragraph layout(std::string_view text, Font font, double width) const;
    // Draws one line of the paragraph in black with the top of its box at `top`.
    void drawLine(const Paragraph& paragraph, std::size_t line, double left, double top);
    // Draws a text on one line with the top-left corner of its box at (left, top), in a grey
    // level from 0 (black) to 1 (white).
    void drawText(std::string_view text, Font font, double left, double top, double grey = 0);
    // A black horizontal line from `left` to `right` at height `y`.
    void drawRule(double left, double right, double y, double lineWidth);
    // Draws the image stretched over the rectangle.
    void drawImage(const std::shared_ptr<const LogoImage>& image, double left, double top, double width,
                   double height);

    // Ends the document and returns the PDF file's bytes. Throws PCError "No se pudo crear el
    // PDF." when writing it failed.
    Bytes finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace pizzacore::documents
