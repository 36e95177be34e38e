#include "PdfDocument.hpp"

#include "LogoImage.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <map>
#include <new>
#include <utility>

namespace pizzacore::documents {
namespace {

const char* const creationFailed = "No se pudo crear el PDF.";

[[noreturn]] void fail() {
    throw PCError::invalid(creationFailed);
}

// Appends what cairo writes to the document's buffer. A failed allocation becomes cairo's write
// error, which finish() reports.
cairo_status_t append(void* closure, const unsigned char* data, unsigned int length) {
    try {
        auto* output = static_cast<Bytes*>(closure);
        output->insert(output->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
    } catch (const std::bad_alloc&) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;

struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};

// The text as valid UTF-8: every byte that does not belong to a character (and every NUL)
// becomes U+FFFD, so that a damaged name still prints instead of stopping the ticket.
std::string validUTF8(std::string_view text) {
    const char* end = nullptr;
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &end)) return std::string(text);
    gchar* repaired = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(repaired);
    g_free(repaired);
    return result;
}

} // namespace

struct PdfDocument::State {
    double width;
    double height;
    Pages pages;
    Bytes output;
    Surface pdf;
    // The page being drawn: the PDF itself for fixed pages, a recording of the page for trimmed
    // ones.
    Context page;
    // Recorded pages with the height each keeps. The PDF refers to them until it is finished,
    // so they live as long as the document.
    std::vector<std::pair<Surface, double>> recorded;
    std::unique_ptr<PangoContext, GObjectDeleter> text;
    std::map<std::pair<double, bool>, PangoFontDescription*> fonts;
    // One image surface per logo, so that a logo drawn on several pages is stored once. The
    // logos outlive their surfaces, which read their pixels.
    std::map<const LogoImage*, Surface> images;
    std::vector<std::shared_ptr<const LogoImage>> logos;

    ~State() {
        page.reset();
        images.clear();
        pdf.reset();
        recorded.clear();
        for (auto& [key, description] : fonts)
            pango_font_description_free(description);
    }

    const PangoFontDescription* font(Font font) {
        auto& description = fonts[{font.size, font.bold}];
        if (description == nullptr) {
            description = pango_font_description_new();
            pango_font_description_set_family_static(description, "sans-serif");
            pango_font_description_set_weight(description,
                                              font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
            pango_font_description_set_absolute_size(description, font.size * PANGO_SCALE);
        }
        return description;
    }

    cairo_t* context() {
        if (!page) fail();
        return page.get();
    }
};

PdfDocument::PdfDocument(double pageWidth, double pageHeight, Pages pages)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.width = pageWidth;
    s.height = pageHeight;
    s.pages = pages;
    s.pdf.reset(cairo_pdf_surface_create_for_stream(append, &s.output, pageWidth, pageHeight));
    if (cairo_surface_status(s.pdf.get()) != CAIRO_STATUS_SUCCESS) fail();

    // Each thread has its own font map in pango, and this context belongs to this document
    // alone. Metrics are unhinted so that the layout is the same at every resolution.
    s.text.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
    if (!s.text) fail();
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(s.text.get(), options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(s.text.get(), 72);
    pango_context_set_round_glyph_positions(s.text.get(), FALSE);
}

PdfDocument::~PdfDocument() = default;

void PdfDocument::beginPage() {
    State& s = *state_;
    if (s.pages == Pages::fixed) {
        if (!s.page) s.page.reset(cairo_create(s.pdf.get()));
    } else {
        const cairo_rectangle_t extents{0, 0, s.width, s.height};
        Surface recording(cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents));
        s.page.reset(cairo_create(recording.get()));
        s.recorded.emplace_back(std::move(recording), s.height);
    }
    if (cairo_status(s.page.get()) != CAIRO_STATUS_SUCCESS) fail();
}

void PdfDocument::endPage(double usedHeight) {
    State& s = *state_;
    if (s.pages == Pages::fixed) {
        cairo_show_page(s.context());
    } else {
        s.context();
        s.recorded.back().second = usedHeight;
        s.page.reset();
    }
}

Paragraph PdfDocument::layout(std::string_view text, Font font, double width) const {
    State& s = *state_;
    std::shared_ptr<void> handle(pango_layout_new(s.text.get()), GObjectDeleter{});
    auto* layout = static_cast<PangoLayout*>(handle.get());
    pango_layout_set_font_description(layout, s.font(font));
    pango_layout_set_width(layout, static_cast<int>(std::lround(width * PANGO_SCALE)));
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    const std::string valid = validUTF8(text);
    pango_layout_set_text(layout, valid.data(), static_cast<int>(valid.size()));

    Paragraph paragraph;
    PangoLayoutIter* iterator = pango_layout_get_iter(layout);
    do {
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iterator, nullptr, &logical);
        const int baseline = pango_layout_iter_get_baseline(iterator);
        paragraph.lines_.push_back({static_cast<double>(logical.height) / PANGO_SCALE,
                                    static_cast<double>(baseline - logical.y) / PANGO_SCALE,
                                    static_cast<double>(logical.x) / PANGO_SCALE,
                                    static_cast<double>(logical.width) / PANGO_SCALE});
    } while (pango_layout_iter_next_line(iterator));
    pango_layout_iter_free(iterator);
    paragraph.layout_ = std::move(handle);
    return paragraph;
}

void PdfDocument::drawLine(const Paragraph& paragraph, std::size_t line, double left, double top) {
    cairo_t* cr = state_->context();
    auto* layout = static_cast<PangoLayout*>(paragraph.layout_.get());
    PangoLayoutLine* fragment = pango_layout_get_line_readonly(layout, static_cast<int>(line));
    if (fragment == nullptr) return;
    const Paragraph::Line& box = paragraph.lines_.at(line);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, left + box.offsetX, top + box.ascent);
    pango_cairo_show_layout_line(cr, fragment);
}

void PdfDocument::drawText(std::string_view text, Font font, double left, double top, double grey) {
    cairo_t* cr = state_->context();
    std::unique_ptr<PangoLayout, GObjectDeleter> layout(pango_layout_new(state_->text.get()));
    pango_layout_set_font_description(layout.get(), state_->font(font));
    const std::string valid = validUTF8(text);
    pango_layout_set_text(layout.get(), valid.data(), static_cast<int>(valid.size()));
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, layout.get());
}

void PdfDocument::drawRule(double left, double right, double y, double lineWidth) {
    cairo_t* cr = state_->context();
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, lineWidth);
    cairo_move_to(cr, left, y);
    cairo_line_to(cr, right, y);
    cairo_stroke(cr);
}

void PdfDocument::drawImage(const std::shared_ptr<const LogoImage>& image, double left, double top,
                            double width, double height) {
    State& s = *state_;
    cairo_t* cr = s.context();
    Surface& surface = s.images[image.get()];
    if (!surface) {
        s.logos.push_back(image);
        surface.reset(image->surface());
    }
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    cairo_save(cr);
    cairo_translate(cr, left, top);
    cairo_scale(cr, width / image->pixelWidth(), height / image->pixelHeight());
    cairo_set_source_surface(cr, surface.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_restore(cr);
}

Bytes PdfDocument::finish() {
    State& s = *state_;
    s.page.reset();
    if (s.pages == Pages::trimmed) {
        Context cr(cairo_create(s.pdf.get()));
        for (const auto& [recording, height] : s.recorded) {
            // Each page shows the top strip of its recording; content keeps its distance from
            // the top edge.
            cairo_pdf_surface_set_size(s.pdf.get(), s.width, height);
            cairo_set_source_surface(cr.get(), recording.get(), 0, 0);
            cairo_paint(cr.get());
            cairo_show_page(cr.get());
        }
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) fail();
    }
    cairo_surface_finish(s.pdf.get());
    if (cairo_surface_status(s.pdf.get()) != CAIRO_STATUS_SUCCESS) fail();
    return std::move(s.output);
}

} // namespace pizzacore::documents
