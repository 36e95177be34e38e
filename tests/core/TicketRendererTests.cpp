// Tickets read back with poppler: page sizes, which lines each destination prints and in which
// order, marks, payment lines, page breaks, wrapping, logos and refusals.

#include "PdfReading.hpp"

#include <PizzaCore/Documents/DateText.hpp>
#include <PizzaCore/Documents/LogoImage.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>
#include <support/Refusal.hpp>
#include <support/ScopedVariable.hpp>
#include <support/TestImages.hpp>

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace pizzacore;
using pizzacore::testing::failure;
using pizzacore::testing::PdfFile;
using pizzacore::testing::PdfPage;
using pizzacore::testing::readPdf;

namespace {

Line line(std::string name, Cents cents, std::int64_t quantity = 1, bool bar = false,
          std::string notes = {}) {
    Line result;
    result.name = std::move(name);
    result.cents = cents;
    result.quantity = quantity;
    result.category = bar ? Category::drink() : Category::pizza();
    result.notes = std::move(notes);
    return result;
}

Order order(std::vector<Line> lines) {
    Order result;
    result.number = 27;
    result.created = Instant{818000000};
    result.draft.name = "Ana García";
    result.draft.phone = "600 123 456";
    result.draft.customerNotes = "Sin picante";
    result.draft.lines = std::move(lines);
    return result;
}

Settings settings(bool kitchen, bool bar, bool customer, Paper paper = Paper::a4) {
    Settings result;
    result.business = "Pizzería Vesubio";
    result.taxID = "B12345678";
    result.address = "Plaza Mayor 1, Madrid";
    result.phone = "910 000 000";
    result.kitchen = kitchen;
    result.bar = bar;
    result.customer = customer;
    result.paper = paper;
    return result;
}

Payment payment(PaymentMethod method, Cents cents, Cents received) {
    Payment result;
    result.method = method;
    result.cents = cents;
    result.received = received;
    return result;
}

PdfFile render(const Order& o, const Settings& s, const std::optional<Payment>& p = std::nullopt,
               bool copy = false) {
    return readPdf(TicketRenderer::render(o, s, p, copy));
}

std::string dateLine(Instant instant) {
    return documents::DateText(true).format(instant);
}

// The number of image objects in the PDF and whether one is stored as JPEG data.
std::size_t count(const Bytes& pdf, std::string_view what) {
    const std::string_view text(reinterpret_cast<const char*>(pdf.data()), pdf.size());
    std::size_t result = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1))
        ++result;
    return result;
}

// The image with its header changed to claim a size whose pixels would take gigabytes.
Bytes claimingHugeSize(Bytes image) {
    if (image[0] == 0x89) {
        for (const std::size_t at : {16u, 20u}) {
            image[at] = 0;
            image[at + 1] = 0x01;
            image[at + 2] = 0x86;
            image[at + 3] = 0xA0;
        }
        return image;
    }
    for (std::size_t at = 2; at + 9 < image.size(); ++at)
        if (image[at] == 0xFF && image[at + 1] == 0xC0) {
            image[at + 5] = image[at + 7] = 0xFD;
            image[at + 6] = image[at + 8] = 0xE8;
            return image;
        }
    ADD_FAILURE() << "no frame header";
    return image;
}

} // namespace

TEST(TicketRenderer, CustomerTicketOnA4CarriesEverythingInOrder) {
    Order o = order({line("Margarita", 1250, 2, false, "sin cebolla"), line("Cerveza", 250, 1, true)});
    o.draft.notes = "Llamar al llegar";
    const PdfFile pdf = render(o, settings(false, false, true));
    ASSERT_EQ(pdf.pages.size(), 1u);
    const PdfPage& page = pdf.pages[0];
    EXPECT_NEAR(page.width, 595.28, 0.01);
    EXPECT_NEAR(page.height, 841.89, 0.01);
    const std::vector<std::string> expected = {
        "Pizzería Vesubio",
        "CLIENTE / REPARTO · #27",
        dateLine(o.created),
        "RECOGER",
        "NIF/CIF: B12345678",
        "Plaza Mayor 1, Madrid",
        "Tel.: 910 000 000",
        "Cliente: Ana García",
        "Tel.: 600 123 456",
        "Habituales: Sin picante",
        "2 × Margarita · 25,00 EUR",
        "Unidad: 12,50 EUR",
        "↳ sin cebolla",
        "1 × Cerveza · 2,50 EUR",
        "Unidad: 2,50 EUR",
        "NOTAS PEDIDO: Llamar al llegar",
        "TOTAL: 27,50 EUR",
        "PENDIENTE DE COBRO",
        "Gracias por tu pedido",
        "Resumen de pedido. No es factura.",
    };
    EXPECT_EQ(page.texts(), expected);
    // Sizes and weights: business base + 4 bold, title base + 2 bold, the closing line 10.
    EXPECT_NEAR(page.lines[0].fontSize, 16, 0.1);
    EXPECT_TRUE(page.lines[0].bold);
    EXPECT_NEAR(page.lines[1].fontSize, 14, 0.1);
    EXPECT_FALSE(page.find("Unidad:")->bold);
    EXPECT_TRUE(page.find("2 × Margarita")->bold);
    EXPECT_NEAR(page.find("TOTAL:")->fontSize, 16, 0.1);
    EXPECT_NEAR(page.find("Resumen de pedido")->fontSize, 10, 0.1);
    EXPECT_NEAR(page.lines[0].left, 36, 0.5);
}

TEST(TicketRenderer, KitchenAndBarListTheirOwnLinesWithoutAmounts) {
    const Order onlyDrinks = order({line("Cerveza", 250, 2, true), line("Agua", 150, 1, true)});
    const PdfFile pdf = render(onlyDrinks, settings(true, true, false));
    ASSERT_EQ(pdf.pages.size(), 2u);
    const PdfPage& kitchen = pdf.pages[0];
    const PdfPage& bar = pdf.pages[1];
    EXPECT_TRUE(kitchen.contains("COCINA · #27"));
    EXPECT_TRUE(kitchen.contains("Sin artículos para este destino"));
    EXPECT_FALSE(kitchen.contains("2 × Cerveza"));
    EXPECT_TRUE(bar.contains("BARRA · #27"));
    EXPECT_FALSE(bar.contains("Sin artículos"));
    const std::vector<std::string> expectedBar = {
        "Pizzería Vesubio", "BARRA · #27", dateLine(onlyDrinks.created),       "RECOGER",
        "2 × Cerveza",      "1 × Agua",    "Resumen de pedido. No es factura."};
    EXPECT_EQ(bar.texts(), expectedBar);

    const Order mixed =
        order({line("Margarita", 1250), line("Cerveza", 250, 1, true), line("Barbacoa", 1300)});
    const PdfFile split = render(mixed, settings(true, true, false));
    EXPECT_TRUE(split.pages[0].contains("1 × Margarita"));
    EXPECT_LT(*split.pages[0].indexOf("1 × Margarita"), *split.pages[0].indexOf("1 × Barbacoa"));
    EXPECT_FALSE(split.pages[0].contains("1 × Cerveza"));
    EXPECT_TRUE(split.pages[1].contains("1 × Cerveza"));
    EXPECT_FALSE(split.pages[1].contains("1 × Margarita"));
}

TEST(TicketRenderer, FullCopiesGiveEveryDestinationTheCustomerContent) {
    Settings s = settings(true, true, true);
    s.fullCopies = true;
    const Order o = order({line("Margarita", 1250), line("Cerveza", 250, 1, true)});
    const PdfFile pdf = render(o, s);
    ASSERT_EQ(pdf.pages.size(), 3u);
    const std::vector<std::string> titles = {"COCINA · #27", "BARRA · #27", "CLIENTE / REPARTO · #27"};
    for (std::size_t i = 0; i < 3; ++i) {
        std::vector<std::string> texts = pdf.pages[i].texts();
        EXPECT_EQ(texts[1], titles[i]);
        texts.erase(texts.begin() + 1);
        std::vector<std::string> customer = pdf.pages[2].texts();
        customer.erase(customer.begin() + 1);
        EXPECT_EQ(texts, customer) << titles[i];
    }
    EXPECT_TRUE(pdf.pages[0].contains("1 × Cerveza · 2,50 EUR"));
    EXPECT_TRUE(pdf.pages[1].contains("TOTAL: 15,00 EUR"));
}

TEST(TicketRenderer, CustomerBlockVariants) {
    struct Case {
        const char* what;
        std::string name;
        Mode mode;
        std::string address;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const std::vector<Case> cases = {
        {"counter customer", "", Mode::pickup, "", {"Cliente: Mostrador", "RECOGER"}, {"Entrega:"}},
        {"delivery without address",
         "Luis",
         Mode::delivery,
         "",
         {"Cliente: Luis", "DOMICILIO", "Entrega:"},
         {}},
        {"delivery", "Luis", Mode::delivery, "Calle Sol 3", {"Entrega: Calle Sol 3"}, {}},
        {"eat in", "Luis", Mode::local, "Calle Sol 3", {"COMER EN LOCAL"}, {"Entrega:"}},
    };
    for (const Case& c : cases) {
        Order o = order({line("Margarita", 1250)});
        o.draft.name = c.name;
        o.draft.mode = c.mode;
        o.draft.address = c.address;
        o.draft.phone.clear();
        o.draft.customerNotes.clear();
        const PdfPage page = render(o, settings(false, false, true)).pages.at(0);
        for (const std::string& text : c.present)
            EXPECT_TRUE(page.contains(text)) << c.what << ": " << text;
        for (const std::string& text : c.absent)
            EXPECT_FALSE(page.contains(text)) << c.what << ": " << text;
        EXPECT_FALSE(page.contains("Tel.: 6")) << c.what;
        EXPECT_FALSE(page.contains("Habituales:")) << c.what;
        if (c.mode == Mode::delivery) {
            EXPECT_TRUE(page.find("Entrega:")->bold);
        }
    }
    // Business data without tax ID, address and phone leaves their lines out.
    Settings bare = settings(false, false, true);
    bare.taxID.clear();
    bare.address.clear();
    bare.phone.clear();
    bare.footer.clear();
    const PdfPage page = render(order({line("Margarita", 1250)}), bare).pages.at(0);
    EXPECT_FALSE(page.contains("NIF/CIF"));
    EXPECT_FALSE(page.contains("Tel.: 910"));
    EXPECT_FALSE(page.contains("Gracias"));
    EXPECT_EQ(*page.indexOf("Cliente: Ana García"), 4u);
}

TEST(TicketRenderer, CopyAndCancelledMarksSitBetweenTitleAndDate) {
    Order o = order({line("Margarita", 1250), line("Cerveza", 250, 1, true)});
    o.preparation = Preparation::cancelled;
    const PdfFile pdf = render(o, settings(true, true, true), std::nullopt, true);
    ASSERT_EQ(pdf.pages.size(), 3u);
    for (const PdfPage& page : pdf.pages) {
        const std::vector<std::string> texts = page.texts();
        ASSERT_GE(texts.size(), 5u);
        EXPECT_EQ(texts[2], "COPIA / REIMPRESIÓN");
        EXPECT_EQ(texts[3], "PEDIDO ANULADO");
        EXPECT_EQ(texts[4], dateLine(o.created));
        EXPECT_TRUE(page.lines[2].bold);
        EXPECT_TRUE(page.lines[3].bold);
    }
    o.preparation = Preparation::ready;
    const PdfPage plain = render(o, settings(true, false, false)).pages.at(0);
    EXPECT_FALSE(plain.contains("COPIA"));
    EXPECT_FALSE(plain.contains("PEDIDO ANULADO"));
    EXPECT_EQ(plain.texts()[2], dateLine(o.created));
}

TEST(TicketRenderer, PaymentLines) {
    struct Case {
        const char* what;
        std::optional<Payment> payment;
        std::optional<std::string> currency;
        std::vector<std::string> tail;
    };
    const std::vector<Case> cases = {
        {"unpaid", std::nullopt, std::nullopt, {"TOTAL: 12,50 EUR", "PENDIENTE DE COBRO"}},
        {"cash",
         payment(PaymentMethod::cash, 1250, 2000),
         std::nullopt,
         {"TOTAL: 12,50 EUR", "Cobrado: Efectivo", "Entregado: 20,00 EUR", "Cambio: 7,50 EUR"}},
        {"exact cash",
         payment(PaymentMethod::cash, 1250, 1250),
         std::nullopt,
         {"TOTAL: 12,50 EUR", "Cobrado: Efectivo", "Entregado: 12,50 EUR", "Cambio: 0,00 EUR"}},
        {"card",
         payment(PaymentMethod::card, 1250, 0),
         std::nullopt,
         {"TOTAL: 12,50 EUR", "Cobrado: Tarjeta"}},
        {"other currency", std::nullopt, "USD", {"TOTAL: 12,50 USD", "PENDIENTE DE COBRO"}},
    };
    for (const Case& c : cases) {
        Settings s = settings(false, false, true);
        s.currency = c.currency;
        s.footer.clear();
        const std::vector<std::string> texts =
            render(order({line("Margarita", 1250)}), s, c.payment).pages.at(0).texts();
        const std::vector<std::string> tail(texts.end() - 1 - static_cast<long>(c.tail.size()),
                                            texts.end() - 1);
        EXPECT_EQ(tail, c.tail) << c.what;
    }
}

TEST(TicketRenderer, RollPaperPagesAreCutToTheirContent) {
    for (const auto& [paper, width] : {std::pair{Paper::mm58, 164.41}, std::pair{Paper::mm80, 226.77}}) {
        const PdfFile pdf = render(order({line("Margarita", 1250), line("Cerveza", 250, 1, true)}),
                                   settings(true, true, true, paper));
        ASSERT_EQ(pdf.pages.size(), 3u);
        for (const PdfPage& page : pdf.pages) {
            EXPECT_NEAR(page.width, width, 0.01);
            const double lastBottom = page.lines.back().bottom;
            // The page ends after the closing line, its paragraph space and the margin.
            EXPECT_GE(page.height, lastBottom + 9);
            EXPECT_LE(page.height, lastBottom + 9 + 5 + 6);
            EXPECT_GE(page.height, 72);
            EXPECT_NEAR(page.lines.front().left, 9, 0.5);
            // The content keeps its distance from the top edge.
            EXPECT_LT(page.lines.front().top, 12);
        }
        EXPECT_LT(pdf.pages[1].height, pdf.pages[2].height);
    }
}

TEST(TicketRenderer, LongOrdersContinueOnNewPages) {
    std::vector<Line> lines;
    for (int i = 1; i <= 60; ++i)
        lines.push_back(line("Pizza " + std::to_string(i), 1000, i, false, "nota " + std::to_string(i)));
    const Order o = order(lines);
    for (const Paper paper : {Paper::a4, Paper::mm80}) {
        const PdfFile pdf = render(o, settings(false, false, true, paper));
        ASSERT_GT(pdf.pages.size(), 1u);
        const double height = paper == Paper::a4 ? 841.89 : 720;
        const double margin = paper == Paper::a4 ? 36 : 9;
        std::vector<std::string> all;
        for (std::size_t p = 0; p < pdf.pages.size(); ++p) {
            const PdfPage& page = pdf.pages[p];
            EXPECT_LE(page.height, height + 0.01);
            if (paper == Paper::mm80 && p + 1 < pdf.pages.size()) {
                EXPECT_GT(page.height, 650);
            }
            EXPECT_LT(page.lines.front().top, margin + 3);
            for (const auto& l : page.lines) {
                EXPECT_LE(l.bottom, height - margin - 22 + 1) << l.text;
                all.push_back(l.text);
            }
        }
        std::size_t next = 1;
        for (const std::string& text : all)
            if (text.starts_with(std::to_string(next) + " × Pizza " + std::to_string(next) + " · ")) ++next;
        EXPECT_EQ(next, 61u) << "lines out of order";
        EXPECT_EQ(all.back(), "Resumen de pedido. No es factura.");
        EXPECT_EQ(std::count(all.begin(), all.end(), "TOTAL: 18300,00 EUR"), 1);
    }
}

TEST(TicketRenderer, LongTextsWrapAtWordsInsideTheColumn) {
    std::string notes;
    for (int i = 0; i < 40; ++i)
        notes += (i ? " " : "") + std::string("ingrediente") + std::to_string(i);
    Order o = order({line("Margarita", 1250, 1, false, notes)});
    const PdfPage page = render(o, settings(true, false, false, Paper::mm58)).pages.at(0);
    const std::size_t first = *page.indexOf("↳ ingrediente0");
    std::string joined;
    std::size_t i = first;
    for (; i < page.lines.size() && !page.lines[i].text.starts_with("Resumen"); ++i) {
        EXPECT_NEAR(page.lines[i].left, 9, 0.5);
        joined += (joined.empty() ? "" : " ") + page.lines[i].text;
    }
    EXPECT_GT(i - first, 5u);
    EXPECT_EQ(joined, "↳ " + notes);
    // A word longer than the column is broken rather than cut off.
    o.draft.lines[0].notes = std::string(200, 'x');
    const PdfPage broken = render(o, settings(true, false, false, Paper::mm58)).pages.at(0);
    std::size_t xs = 0;
    for (const auto& l : broken.lines)
        xs += static_cast<std::size_t>(std::count(l.text.begin(), l.text.end(), 'x'));
    EXPECT_EQ(xs, 200u);
}

TEST(TicketRenderer, EmptyBusinessNameStillTakesItsLine) {
    Settings named = settings(true, false, false);
    Settings unnamed = named;
    unnamed.business.clear();
    const Order o = order({line("Margarita", 1250)});
    const PdfPage a = render(o, named).pages.at(0);
    const PdfPage b = render(o, unnamed).pages.at(0);
    EXPECT_EQ(b.texts()[0], "COCINA · #27");
    EXPECT_NEAR(a.find("COCINA")->top, b.find("COCINA")->top, 0.01);
}

TEST(TicketRenderer, TextThatIsNotUTF8IsPrintedWithReplacementCharacters) {
    Order o = order({line(std::string("Pizza \xC3\x28 rara\xFF"), 1000, 1, false, std::string("a\0b", 3))});
    o.draft.name = "\xE2\x82";
    const PdfPage page = render(o, settings(false, false, true)).pages.at(0);
    EXPECT_TRUE(page.contains("1 × Pizza \xEF\xBF\xBD( rara\xEF\xBF\xBD · 10,00 EUR"));
    EXPECT_TRUE(page.contains("Cliente: \xEF\xBF\xBD"));
    EXPECT_TRUE(page.contains("↳ a\xEF\xBF\xBD"));
}

TEST(TicketRenderer, Logos) {
    const auto halves = [](int x, int, int width) { return x < width / 2 ? 0x000000u : 0xFFFFFFu; };
    struct Case {
        const char* what;
        Bytes bytes;
        bool drawn;
    };
    const std::vector<Case> cases = {
        {"png", pizzacore::testing::pngImage(140, 90, [&](int x, int y) { return halves(x, y, 140); }), true},
        {"jpeg", pizzacore::testing::jpegImage(140, 90, [&](int x, int y) { return halves(x, y, 140); }),
         true},
        {"large jpeg",
         pizzacore::testing::jpegImage(2400, 1600, [&](int x, int y) { return halves(x, y, 2400); }), true},
        {"not an image", Bytes{'h', 'o', 'l', 'a'}, false},
        {"truncated png", pizzacore::testing::pngImage(40, 40, [](int, int) { return 0u; }), false},
        {"truncated jpeg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00}, false},
        {"empty", Bytes{}, false},
        {"png claiming 100000 × 100000 pixels",
         claimingHugeSize(pizzacore::testing::pngImage(8, 8, [](int, int) { return 0u; })), false},
        {"jpeg claiming 65000 × 65000 pixels",
         claimingHugeSize(pizzacore::testing::jpegImage(8, 8, [](int, int) { return 0u; })), false},
    };
    for (const Case& c : cases) {
        Settings s = settings(true, false, true, Paper::mm80);
        s.logo = c.bytes;
        if (std::string_view(c.what) == "truncated png") s.logo->resize(60);
        const Bytes bytes = TicketRenderer::render(order({line("Margarita", 1250)}), s, std::nullopt, false);
        const PdfFile pdf = readPdf(bytes);
        ASSERT_EQ(pdf.pages.size(), 2u) << c.what;
        for (const PdfPage& page : pdf.pages) {
            // The logo takes 50 points above the business name.
            EXPECT_NEAR(page.lines[0].top, c.drawn ? 59 : 9, 3) << c.what;
        }
        // One image object serves every page.
        EXPECT_EQ(count(bytes, "/Subtype /Image"), c.drawn ? 1u : 0u) << c.what;
        if (std::string_view(c.what).find("jpeg") != std::string_view::npos && c.drawn) {
            EXPECT_EQ(count(bytes, "/DCTDecode"), 1u) << c.what;
        }
    }
}

TEST(TicketRenderer, TheLogoIsDecodedOncePerDistinctBytes) {
    const Bytes bytes = pizzacore::testing::jpegImage(64, 48, [](int x, int) { return x * 4u; });
    const auto first = documents::LogoImage::from(bytes);
    ASSERT_TRUE(first);
    EXPECT_EQ(documents::LogoImage::from(Bytes(bytes)), first);
    EXPECT_EQ(first->width(), 64);
    EXPECT_EQ(first->height(), 48);
    Bytes other = pizzacore::testing::jpegImage(64, 48, [](int x, int) { return x * 3u; });
    EXPECT_NE(documents::LogoImage::from(other), first);
    EXPECT_FALSE(documents::LogoImage::from(Bytes{1, 2, 3}));
    // A small upright JPEG is embedded as its own bytes.
    EXPECT_EQ(first->jpeg(), bytes);
}

TEST(TicketRenderer, LogosAreTurnedUprightAndFittedIntoTheirBox) {
    // Stored 200 × 100 with the left half black; orientation 6 turns it a quarter clockwise, so
    // it is printed 22.5 × 45 points with the top half black.
    const auto leftHalfBlack = [](int x, int) { return x < 100 ? 0x000000u : 0xFFFFFFu; };
    for (const Bytes& logo : {pizzacore::testing::jpegImage(200, 100, leftHalfBlack, 95, 6),
                              pizzacore::testing::pngImage(200, 100, leftHalfBlack, 6)}) {
        Settings s = settings(false, false, true, Paper::mm80);
        s.logo = logo;
        const Bytes pdf = TicketRenderer::render(order({line("Margarita", 1250)}), s, std::nullopt, false);
        std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
            reinterpret_cast<const char*>(pdf.data()), static_cast<int>(pdf.size())));
        ASSERT_TRUE(document);
        std::unique_ptr<poppler::page> page(document->create_page(0));
        poppler::page_renderer renderer;
        const poppler::image image = renderer.render_page(page.get(), 144, 144);
        ASSERT_TRUE(image.is_valid());
        // 2 pixels per point; the logo sits at (9, 9).
        const auto grey = [&](double x, double y) {
            const auto* row = reinterpret_cast<const std::uint8_t*>(image.const_data()) +
                              static_cast<std::size_t>(y * 2) * image.bytes_per_row();
            return row[static_cast<std::size_t>(x * 2) * 4 + 1];
        };
        EXPECT_LT(grey(9 + 11, 9 + 10), 60);  // top half: black
        EXPECT_GT(grey(9 + 11, 9 + 35), 200); // bottom half: white
        EXPECT_GT(grey(9 + 30, 9 + 10), 200); // right of the 22.5-point wide logo: paper
    }
}

TEST(TicketRenderer, Refusals) {
    const Order o = order({line("Margarita", 1250)});
    EXPECT_EQ(failure([&] { TicketRenderer::render(o, settings(false, false, false), std::nullopt, false); }),
              "Activa al menos un destinatario en Ajustes → Tickets.");
    const Order huge = order({line("Margarita", std::numeric_limits<Cents>::max() / 2, 3)});
    EXPECT_EQ(
        failure([&] { TicketRenderer::render(huge, settings(true, false, false), std::nullopt, false); }),
        "El importe supera el límite admitido.");
    const Payment wrapping = payment(PaymentMethod::cash, 1250, std::numeric_limits<Cents>::min());
    EXPECT_EQ(failure([&] { TicketRenderer::render(o, settings(false, false, true), wrapping, false); }),
              "El importe supera el límite admitido.");
    // The same difference is never worked out for a card payment, which prints no change.
    const Payment card = payment(PaymentMethod::card, 1250, std::numeric_limits<Cents>::min());
    EXPECT_FALSE(failure([&] { TicketRenderer::render(o, settings(false, false, true), card, false); }));
}

TEST(TicketRenderer, DateLineFollowsTheUserLocaleAndTimeZone) {
    const pizzacore::testing::ScopedVariable all("LC_ALL", "es_ES.UTF-8");
    const pizzacore::testing::ScopedVariable zone("TZ", "Europe/Madrid");
    Order o = order({line("Margarita", 1250)});
    o.created = Instant::fromUnix(1796215500); // 2026-12-02 13:45 in Madrid
    EXPECT_EQ(render(o, settings(true, false, false)).pages.at(0).texts()[2], "2 dic 2026, 13:45");
    const pizzacore::testing::ScopedVariable english("LC_ALL", "en_US");
    const pizzacore::testing::ScopedVariable tokyo("TZ", "Asia/Tokyo");
    // ICU puts a narrow no-break space before PM, which the PDF reader may give as a space.
    const std::string english12 = render(o, settings(true, false, false)).pages.at(0).texts()[2];
    EXPECT_TRUE(english12.starts_with("Dec 2, 2026, 9:45")) << english12;
    EXPECT_TRUE(english12.ends_with("PM")) << english12;
}

TEST(TicketRenderer, RendersOnManyThreadsAtOnce) {
    const auto logo = pizzacore::testing::jpegImage(
        300, 200, [](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y * 13); });
    std::vector<std::vector<std::string>> expected(4);
    std::vector<Order> orders;
    for (int t = 0; t < 4; ++t) {
        Order o =
            order({line("Pizza del hilo " + std::to_string(t), 1000 + t), line("Cerveza", 250, 1, true)});
        o.number = 100 + t;
        orders.push_back(o);
    }
    Settings s = settings(true, true, true, Paper::mm80);
    s.logo = logo;
    for (int t = 0; t < 4; ++t)
        for (const PdfPage& page : render(orders[t], s).pages)
            for (const std::string& text : page.texts())
                expected[t].push_back(text);
    std::vector<std::vector<std::vector<std::string>>> seen(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                std::vector<std::string> texts;
                for (const PdfPage& page : render(orders[t], s).pages)
                    for (const std::string& text : page.texts())
                        texts.push_back(text);
                seen[t].push_back(texts);
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t)
        for (const auto& texts : seen[t])
            EXPECT_EQ(texts, expected[t]);
}

TEST(TicketRenderer, NegativeAmountsCarryAHyphenMinus) {
    Settings s = settings(false, false, true);
    s.footer.clear();
    const PdfPage page = render(order({line("Margarita", 1250), line("Descuento", -50, 1)}), s).pages.at(0);
    EXPECT_TRUE(page.contains("1 × Descuento · -0,50 EUR"));
    EXPECT_TRUE(page.contains("Unidad: -0,50 EUR"));
    EXPECT_TRUE(page.contains("TOTAL: 12,00 EUR"));
}
