// The closing report: its figures over a day of three shifts (one closed by hand, one by the
// clock the day before), cancelled orders, an older debt paid and one still owed, and the PDF read
// back with poppler on roll paper and on A4.

#include "PdfReading.hpp"

#include <PizzaCore/Documents/DateText.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>
#include <poppler-document.h>
#include <poppler-page.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>

#include <string>
#include <vector>

using namespace pizzacore;
using pizzacore::testing::PdfFile;
using pizzacore::testing::PdfPage;
using pizzacore::testing::readPdf;

namespace {

constexpr double hour = 3600;
const Instant sunday12h = Instant::fromUnix(1773054000 - 24 * hour); // 2026-03-08 12:00 in Madrid
const Instant monday12h = Instant::fromUnix(1773054000);             // 2026-03-09 12:00

Instant at(Instant instant, double hours) {
    return Instant{instant.seconds + hours * hour};
}

// A restaurant's Sunday and Monday, built with the core's own operations.
class ClosingReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_.settings.business = "Pizzería Vesubio";
        margarita_ = product("Margarita", 1000, Category::pizza());
        cola_ = product("Cola", 250, Category::drink());
        patatas_ = product("Patatas", 400, Category::side());
        // A category deleted after selling: still listed, after the catalogue's.
        const Category postres = Category::make("Postres", false);
        tiramisu_ = product("Tiramisú", 350, postres);

        db_.reconcile(sunday12h);
        owedSunday_ = sell(Mode::pickup, {{margarita_, 1}}, at(sunday12h, 1)); // 1000, never paid
        paidLater_ = sell(Mode::pickup, {{cola_, 1}}, at(sunday12h, 2));       // 250, paid on Monday

        // Monday's first shift opens as Sunday's closes by the clock.
        db_.reconcile(monday12h);
        const Order a = sell(Mode::pickup, {{margarita_, 2}, {cola_, 1}}, at(monday12h, 0.5)); // 2250
        db_.pay(a.id, PaymentMethod::cash, 3000, at(monday12h, 0.6));
        const Order b = sell(Mode::delivery, {{margarita_, 1}}, at(monday12h, 1)); // 1000
        db_.cancel(b.id, "El cliente no contesta", at(monday12h, 1.2));
        db_.closeManually(db_.sessions.back().id, at(monday12h, 2));

        const Order c = sell(Mode::local, {{patatas_, 2}, {tiramisu_, 1}}, at(monday12h, 3)); // 1150
        db_.pay(c.id, PaymentMethod::card, std::nullopt, at(monday12h, 3.1));
        owedMonday_ = sell(Mode::pickup, {{margarita_, 1}}, at(monday12h, 4)); // 1000, unpaid
        const Order e = sell(Mode::pickup, {{cola_, 6}}, at(monday12h, 5));    // 1500
        db_.cancel(e.id, "Duplicado", at(monday12h, 5.1));
        db_.pay(paidLater_.id, PaymentMethod::cash, 500, at(monday12h, 5.5));
        db_.closeManually(db_.sessions.back().id, at(monday12h, 6));
        db_.deleteProduct(tiramisu_.id, at(monday12h, 6.5));
        db_.deleteCategory(postres, at(monday12h, 6.5));
        // One renamed: listed under its new name.
        Category drinks = Category::drink();
        drinks.rawValue = "Bebidas";
        db_.saveCategory(drinks, at(monday12h, 6.5));
    }

    Product product(std::string name, Cents cents, Category category) {
        if (std::none_of(db_.categories.begin(), db_.categories.end(),
                         [&](const Category& c) { return c.id == category.id; }))
            db_.saveCategory(category, sunday12h);
        Product result;
        result.name = std::move(name);
        result.cents = cents;
        result.category = std::move(category);
        db_.saveProduct(result, sunday12h);
        return result;
    }

    Order sell(Mode mode, std::vector<std::pair<Product, std::int64_t>> lines, Instant when) {
        Draft draft;
        draft.mode = mode;
        if (mode == Mode::delivery) {
            draft.name = "Lucía";
            draft.phone = "600111222";
            draft.address = "Calle Mayor 3";
        }
        for (const auto& [product, quantity] : lines) {
            Line line = Line::make(product);
            line.quantity = quantity;
            draft.lines.push_back(line);
        }
        return db_.confirm(draft, when);
    }

    Database db_;
    Product margarita_, cola_, patatas_, tiramisu_;
    Order owedSunday_, paidLater_, owedMonday_;
};

struct Figures {
    std::size_t orders, cancelled;
    Cents sales, receipts, cash, card;
    bool operator==(const Figures&) const = default;
};

Figures figures(const ClosingReport::Shift& shift) {
    return {shift.orders, shift.cancelled, shift.sales, shift.receipts, shift.cash, shift.card};
}

void PrintTo(const Figures& f, std::ostream* out) {
    *out << "{" << f.orders << ", " << f.cancelled << ", " << f.sales << ", " << f.receipts << ", " << f.cash
         << ", " << f.card << "}";
}

std::vector<std::pair<std::string, std::pair<std::int64_t, Cents>>>
breakdown(const std::vector<ClosingReport::Breakdown>& list) {
    std::vector<std::pair<std::string, std::pair<std::int64_t, Cents>>> result;
    for (const ClosingReport::Breakdown& entry : list)
        result.push_back({entry.name, {entry.count, entry.sales}});
    return result;
}

TEST_F(ClosingReportTest, TheDayAddsUpItsShiftsAndSplitsSalesByCategoryAndMode) {
    const ClosingReport day = ClosingReport::ofDay(db_, "2026-03-09");
    EXPECT_EQ(day.day, "2026-03-09");
    EXPECT_FALSE(day.session);
    ASSERT_EQ(day.shifts.size(), 3u);
    EXPECT_EQ(day.shifts[0].session.reason, "Manual");
    EXPECT_EQ(figures(day.shifts[0]), (Figures{2, 1, 2250, 2250, 2250, 0}));
    // The second shift also takes Sunday's debt in cash: receipts are not sales.
    EXPECT_EQ(figures(day.shifts[1]), (Figures{3, 1, 2150, 1400, 250, 1150}));
    EXPECT_EQ(figures(day.shifts[2]), (Figures{0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(day.shifts[2].session.closed);
    for (std::size_t k = 0; k < 3; ++k)
        EXPECT_EQ(day.shifts[k].ordinal, k + 1);

    EXPECT_EQ(day.orders, 5u);
    EXPECT_EQ(day.sales, 4400);
    EXPECT_EQ(day.receipts, 3650);
    EXPECT_EQ(day.cash, 2500);
    EXPECT_EQ(day.card, 1150);
    EXPECT_EQ(day.unpaidOrders, 1u);
    EXPECT_EQ(day.unpaid, 1000);
    EXPECT_EQ(day.unpaidAll, 2000) << "Sunday's debt counts in the total owed";

    ASSERT_EQ(day.cancelled.size(), 2u);
    EXPECT_EQ(day.cancelled[0].order.cancellationReason, "El cliente no contesta");
    EXPECT_EQ(day.cancelled[0].shift, 1u);
    EXPECT_EQ(day.cancelled[1].order.cancellationReason, "Duplicado");
    EXPECT_EQ(day.cancelled[1].shift, 2u);

    using Rows = decltype(breakdown({}));
    EXPECT_EQ(breakdown(day.categories), (Rows{{"Pizzas", {3, 3000}},
                                               {"Bebidas", {1, 250}},
                                               {"Complementos", {2, 800}},
                                               {"Postres", {1, 350}}}));
    EXPECT_EQ(breakdown(day.modes),
              (Rows{{"Recoger", {2, 3250}}, {"Comer en local", {1, 1150}}, {"Domicilio", {0, 0}}}));

    // Sunday: one shift closed by the clock, both orders still in it.
    const ClosingReport sunday = ClosingReport::ofDay(db_, "2026-03-08");
    ASSERT_EQ(sunday.shifts.size(), 1u);
    EXPECT_EQ(sunday.shifts[0].session.reason, "Automático");
    EXPECT_EQ(sunday.unpaid, 1000) << "the cola is paid by now";
    EXPECT_EQ(ClosingReport::ofDay(db_, "2026-03-10").shifts.size(), 0u);
}

TEST_F(ClosingReportTest, AShiftsReportKeepsItsPlaceInTheDayAndOnlyItsOwnOrders) {
    const std::optional<ClosingReport> second = ClosingReport::ofShift(db_, db_.sessions[2].id);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->session, db_.sessions[2].id);
    ASSERT_EQ(second->shifts.size(), 1u);
    EXPECT_EQ(second->shifts[0].ordinal, 2u);
    EXPECT_EQ(second->sales, 2150);
    EXPECT_EQ(second->cash, 250);
    EXPECT_EQ(second->unpaid, 1000);
    ASSERT_EQ(second->cancelled.size(), 1u);
    EXPECT_EQ(second->cancelled[0].order.cancellationReason, "Duplicado");
    using Rows = decltype(breakdown({}));
    EXPECT_EQ(breakdown(second->modes),
              (Rows{{"Recoger", {1, 1000}}, {"Comer en local", {1, 1150}}, {"Domicilio", {0, 0}}}));
    EXPECT_FALSE(ClosingReport::ofShift(db_, Uuid::random()));
}

struct Report {
    PdfFile pdf;
    // The text of each page as seen on paper: words at the same height form one row, read left
    // to right with single spaces, rows from the top down. A label and its amount at the right
    // edge make one row.
    std::vector<std::string> rows;
    // The rightmost edge of any word.
    double right = 0;
};

Report render(const Database& db, Paper paper, const std::optional<Uuid>& shift = std::nullopt) {
    Settings settings = db.settings;
    settings.paper = paper;
    const ClosingReport report =
        shift ? *ClosingReport::ofShift(db, *shift) : ClosingReport::ofDay(db, "2026-03-09");
    const Bytes bytes = ClosingReportRenderer::render(report, settings);
    Report result{readPdf(bytes), {}};
    std::unique_ptr<poppler::document> document(poppler::document::load_from_raw_data(
        reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())));
    for (int i = 0; document && i < document->pages(); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        std::vector<std::tuple<double, double, std::string>> words;
        for (const poppler::text_box& word : page->text_list()) {
            const poppler::byte_array utf8 = word.text().to_utf8();
            words.emplace_back(word.bbox().top(), word.bbox().left(), std::string(utf8.begin(), utf8.end()));
            result.right = std::max(result.right, word.bbox().right());
        }
        std::sort(words.begin(), words.end());
        double top = -100;
        for (const auto& [wordTop, left, text] : words) {
            if (std::fabs(wordTop - top) >= 1.0) {
                result.rows.push_back(text);
                top = wordTop;
            } else {
                result.rows.back() += " " + text;
            }
        }
    }
    return result;
}

// The lines of every page, in reading order.
std::vector<std::string> texts(const PdfFile& file) {
    std::vector<std::string> all;
    for (const PdfPage& page : file.pages)
        for (const std::string& text : page.texts())
            all.push_back(text);
    return all;
}

std::size_t position(const std::vector<std::string>& lines, const std::string& text) {
    const auto found = std::find(lines.begin(), lines.end(), text);
    EXPECT_NE(found, lines.end()) << text;
    return static_cast<std::size_t>(found - lines.begin());
}

TEST_F(ClosingReportTest, TheDaysPdfOnRollPaperIsOneStripWithEveryPartInOrder) {
    const Report report = render(db_, Paper::mm80);
    const PdfFile& pdf = report.pdf;
    ASSERT_EQ(pdf.pages.size(), 1u);
    EXPECT_NEAR(pdf.pages[0].width, 226.77, 0.5);
    EXPECT_LT(pdf.pages[0].height, 2000) << "cut to its content";
    const std::vector<std::string>& lines = report.rows;
    const documents::DateText dates(true);
    const std::vector<std::string> expected{
        "Pizzería Vesubio",
        "INFORME DE CIERRE",
        "Jornada comercial 2026-03-09",
        "TRAMO 1 · CERRADO",
        "Apertura " + dates.format(monday12h),
        "Cierre " + dates.format(at(monday12h, 2)),
        "Motivo del cierre Manual",
        "Pedidos 2 (1 anulado)",
        "Ventas 22,50 EUR",
        "TRAMO 2 · CERRADO",
        "Cobros 14,00 EUR",
        "Efectivo 2,50 EUR",
        "Tarjeta 11,50 EUR",
        "TRAMO 3 · ABIERTO",
        "Cierre Abierto",
        "TOTAL DE LA JORNADA",
        "Pedidos 5 (2 anulados)",
        "Ventas 44,00 EUR",
        "Cobros 36,50 EUR",
        "Sin cobrar 10,00 EUR (1 pedido)",
        "Pendiente de todas las jornadas 20,00 EUR",
        "EFECTIVO EN EL CAJÓN",
        "Efectivo cobrado 25,00 EUR",
        "VENTAS POR CATEGORÍA",
        "Pizzas · 3 uds. 30,00 EUR",
        "Bebidas · 1 ud. 2,50 EUR",
        "Complementos · 2 uds. 8,00 EUR",
        "Postres · 1 ud. 3,50 EUR",
        "VENTAS POR MODO",
        "Recoger · 2 pedidos 32,50 EUR",
        "Comer en local · 1 pedido 11,50 EUR",
        "Domicilio · 0 pedidos 0,00 EUR",
        "PEDIDOS ANULADOS (2)",
        "Motivo: El cliente no contesta",
        "Motivo: Duplicado",
    };
    std::size_t previous = 0;
    for (const std::string& line : expected) {
        const std::size_t at = position(lines, line);
        EXPECT_GE(at, previous) << line << " is out of order";
        previous = at;
    }
    // Labels start at the margin, their amounts end at the right margin.
    const pizzacore::testing::PdfLine* sales = pdf.pages[0].find("Ventas");
    ASSERT_NE(sales, nullptr);
    EXPECT_NEAR(sales->left, 9, 1);
    EXPECT_NEAR(report.right, 226.77 - 9, 1.5);
}

TEST_F(ClosingReportTest, AShiftsPdfOnA4AndOn58mmSaysWhichShiftItIs) {
    const Report report = render(db_, Paper::a4, db_.sessions[2].id);
    const PdfFile& a4 = report.pdf;
    ASSERT_EQ(a4.pages.size(), 1u);
    EXPECT_NEAR(a4.pages[0].width, 595.28, 0.5);
    EXPECT_NEAR(a4.pages[0].height, 841.89, 0.5);
    const std::vector<std::string>& lines = report.rows;
    for (const std::string& line :
         {std::string("Tramo 2 · Jornada comercial 2026-03-09"), std::string("TOTAL DEL TRAMO"),
          std::string("Efectivo cobrado 2,50 EUR"), std::string("Motivo: Duplicado")})
        position(lines, line);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Motivo: El cliente no contesta"), 0);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("TRAMO "); }),
              1);

    // On the narrowest paper long labels wrap beside their amounts and nothing crosses the margin.
    const Report narrow = render(db_, Paper::mm58, db_.sessions[2].id);
    EXPECT_NEAR(narrow.pdf.pages[0].width, 164.41, 0.5);
    EXPECT_LE(narrow.right, 164.41 - 9 + 0.5);
    position(narrow.rows, "Sin cobrar 10,00 EUR (1 pedido)");
    EXPECT_EQ(std::count_if(narrow.rows.begin(), narrow.rows.end(),
                            [](const std::string& row) {
                                return row.starts_with("Pendiente global al") && row.ends_with(" 20,00 EUR");
                            }),
              1);
}

TEST_F(ClosingReportTest, ADayWithoutShiftsStillGivesAReport) {
    Settings settings = db_.settings;
    settings.paper = Paper::mm80;
    const PdfFile pdf =
        readPdf(ClosingReportRenderer::render(ClosingReport::ofDay(db_, "2026-03-10"), settings));
    const std::vector<std::string> lines = texts(pdf);
    position(lines, "No hay tramos de caja en esta jornada.");
    position(lines, "Sin ventas.");
    position(lines, "Ninguno.");
    EXPECT_EQ(ClosingReportRenderer::suggestedName(ClosingReport::ofDay(db_, "2026-03-10"), Paper::mm80),
              "Informe-2026-03-10-80 mm.pdf");
    EXPECT_EQ(
        ClosingReportRenderer::suggestedName(*ClosingReport::ofShift(db_, db_.sessions[2].id), Paper::a4),
        "Informe-2026-03-09-tramo-2-A4.pdf");
}

} // namespace
