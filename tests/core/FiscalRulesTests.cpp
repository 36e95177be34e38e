// Invoice kinds, the tax-included line arithmetic and the rules for fiscal settings, invoice
// proposals and a stored fiscal archive.

#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <gtest/gtest.h>
#include <support/Refusal.hpp>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace pizzacore;

namespace {

const std::string profileMessage =
    "Revisa país (ISO de dos letras), moneda (ISO de tres letras) y tipos impositivos.";
const std::string seriesMessage = "Usa tres series distintas, de 1 a 30 letras, cifras, guiones o barras.";
const std::string lineCountMessage = "Añade entre 1 y 1000 conceptos.";
const std::string linesMessage = "Revisa los conceptos, cantidades, precios e impuestos.";
const std::string amountMessage = "El importe supera el límite admitido.";
const std::string correctionMessage = "La rectificativa requiere factura de origen y motivo.";
const std::string issuerMessage = "Completa los datos fiscales del emisor.";
const std::string recipientMessage =
    "Una factura completa requiere nombre, identificación fiscal y domicilio del destinatario.";
const std::string simplifiedMessage =
    "El importe supera el límite de 3.000 EUR para una factura simplificada de "
    "hostelería en España. Usa factura completa.";
const std::string inconsistentMessage =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";

using pizzacore::testing::failure;

std::string repeated(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += piece;
    return text;
}

FiscalLine line(std::int64_t quantity, std::int64_t unitGross, std::int64_t rate,
                std::string description = "Pizza") {
    return FiscalLine{Uuid::random(), std::move(description), quantity, unitGross, rate};
}

InvoiceProposal proposalWith(std::vector<FiscalLine> lines, InvoiceKind kind = InvoiceKind::full) {
    InvoiceProposal proposal;
    proposal.created = Instant{800000000};
    proposal.operationDate = Instant{800000000};
    proposal.kind = kind;
    proposal.lines = std::move(lines);
    if (rectifies(kind)) {
        proposal.correctionOf = Uuid::random();
        proposal.reason = "Precio equivocado";
    }
    return proposal;
}

FiscalSettings completeSettings() {
    FiscalSettings settings;
    settings.issuerName = "Pizzería Alba S.L.";
    settings.issuerTaxID = "B12345678";
    settings.issuerAddress = "Calle Mayor 1, Madrid";
    return settings;
}

InvoiceProposal withRecipient(InvoiceProposal proposal) {
    proposal.recipientName = "Ana García";
    proposal.recipientTaxID = "12345678Z";
    proposal.recipientAddress = "Calle Sol 2, Madrid";
    return proposal;
}

} // namespace

TEST(InvoiceKinds, HaveTheirCodesTitlesAndProperties) {
    struct Case {
        InvoiceKind kind;
        std::string_view code, title;
        bool rectifies, requiresRecipient;
    };
    const Case cases[] = {
        {InvoiceKind::full, "F1", "Factura completa", false, true},
        {InvoiceKind::simplified, "F2", "Factura simplificada", false, false},
        {InvoiceKind::correction, "R4", "Factura rectificativa", true, true},
        {InvoiceKind::simplifiedCorrection, "R5", "Rectificativa simplificada", true, false},
    };
    const auto all = allCases<InvoiceKind>();
    ASSERT_EQ(all.size(), std::size(cases));
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(all[i], c.kind) << "picker order";
        EXPECT_EQ(rawValue(c.kind), c.code);
        EXPECT_EQ(enumFromRawValue<InvoiceKind>(c.code), c.kind);
        EXPECT_EQ(title(c.kind), c.title);
        EXPECT_EQ(rectifies(c.kind), c.rectifies) << c.code;
        EXPECT_EQ(requiresRecipient(c.kind), c.requiresRecipient) << c.code;
    }
    EXPECT_FALSE(enumFromRawValue<InvoiceKind>("f1").has_value());
}

TEST(FiscalAmounts, DeriveNetAndTaxFromTheGrossPerLine) {
    struct Case {
        std::int64_t quantity, unitGross, rate, gross, net, tax;
    };
    const Case cases[] = {
        {1, 1000, 2100, 1000, 826, 174},
        {-1, 1000, 2100, -1000, -826, -174},
        {1, 1000, 1000, 1000, 909, 91},
        {3, 1250, 1000, 3750, 3409, 341},
        {1, 1000, -1, 1000, 1000, 0}, // no rate chosen: all of it is net
        {1, 1000, 0, 1000, 1000, 0},
        {1, 0, 2100, 0, 0, 0},
        // 1 cent at 100 %: exactly half a cent, rounded away from zero on the magnitude.
        {1, 1, 10000, 1, 1, 0},
        {-1, 1, 10000, -1, -1, 0},
        {1, 3, 10000, 3, 2, 1},
        {-3, 1, 10000, -3, -2, -1},
        {999, 99'999'999, 2100, 99'899'999'001, 82'561'982'645, 17'338'016'356},
    };
    for (const Case& c : cases) {
        const FiscalLine l = line(c.quantity, c.unitGross, c.rate);
        EXPECT_EQ(l.gross(), c.gross) << c.quantity << " × " << c.unitGross << " @ " << c.rate;
        EXPECT_EQ(l.net(), c.net) << c.quantity << " × " << c.unitGross << " @ " << c.rate;
        EXPECT_EQ(l.tax(), c.tax) << c.quantity << " × " << c.unitGross << " @ " << c.rate;
    }
}

TEST(FiscalAmounts, RoundPerLineAndSumTheLines) {
    EXPECT_EQ(InvoiceProposal{}.gross(), 0);
    EXPECT_EQ(InvoiceProposal{}.net(), 0);
    EXPECT_EQ(InvoiceProposal{}.tax(), 0);

    // Three lines of 1 cent at 21 %: each rounds to a net of 1, so the net is 3, not ⌊3/1.21⌉ = 2.
    const InvoiceProposal proposal = proposalWith({line(1, 1, 2100), line(1, 1, 2100), line(1, 1, 2100)});
    EXPECT_EQ(proposal.gross(), 3);
    EXPECT_EQ(proposal.net(), 3);
    EXPECT_EQ(proposal.tax(), 0);
}

TEST(FiscalAmounts, NeverOverflowFarOutsideTheValidatedBounds) {
    constexpr auto maximum = std::numeric_limits<std::int64_t>::max();
    constexpr auto minimum = std::numeric_limits<std::int64_t>::min();
    const FiscalLine huge = line(maximum, 3, 0);
    EXPECT_EQ(huge.gross(), maximum);
    EXPECT_EQ(huge.net(), maximum);
    EXPECT_EQ(huge.tax(), 0);
    const FiscalLine hugeNegative = line(maximum, -3, 2100);
    EXPECT_EQ(hugeNegative.gross(), minimum);
    EXPECT_LT(hugeNegative.net(), 0);
    EXPECT_EQ(hugeNegative.net() + hugeNegative.tax(), minimum);
    EXPECT_EQ(line(1, minimum, 0).net(), minimum);
    EXPECT_EQ(line(1, 1000, maximum).net(), 0);

    const InvoiceProposal proposal = proposalWith({huge, huge, hugeNegative, hugeNegative, hugeNegative});
    EXPECT_EQ(proposal.gross(), minimum); // held at the limit, not wrapped
    EXPECT_EQ(failure([&] { FiscalRules::validate(proposal, FiscalSettings{}, false); }), linesMessage);
}

TEST(FiscalAmounts, PerRateTotalsAddUpAndEachNetIsTheNearestCent) {
    std::mt19937_64 random(20260512);
    std::uniform_int_distribution<std::int64_t> quantities(-999, 999), prices(0, 99'999'999), counts(1, 40);
    std::uniform_int_distribution<std::size_t> pick(0, 5);
    const std::int64_t rates[] = {-1, 0, 400, 1000, 2100, 10000};
    for (int round = 0; round < 500; ++round) {
        InvoiceProposal proposal;
        const std::int64_t count = counts(random);
        for (std::int64_t i = 0; i < count; ++i) {
            std::int64_t quantity = quantities(random);
            std::int64_t price = round % 2 == 0 ? prices(random) : prices(random) % 2000;
            proposal.lines.push_back(line(quantity, price, rates[pick(random)]));
        }
        std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> byRate;
        for (const FiscalLine& l : proposal.lines) {
            ASSERT_EQ(l.net() + l.tax(), l.gross());
            byRate[l.rate].first += l.net();
            byRate[l.rate].second += l.tax();
            if (l.rate < 0) {
                ASSERT_EQ(l.net(), l.gross());
                continue;
            }
            // |net × d − gross × 10000| ≤ d / 2, with exact halves going away from zero.
            const std::int64_t d = 10000 + l.rate;
            const std::int64_t error = l.net() * d - l.gross() * 10000;
            ASSERT_LE(2 * std::abs(error), d) << l.quantity << " × " << l.unitGross << " @ " << l.rate;
            if (2 * std::abs(error) == d) {
                ASSERT_GT(error * (l.gross() < 0 ? -1 : 1), 0);
            }
        }
        std::int64_t net = 0, tax = 0;
        for (const auto& [rate, sums] : byRate) {
            net += sums.first;
            tax += sums.second;
        }
        ASSERT_EQ(net, proposal.net());
        ASSERT_EQ(tax, proposal.tax());
        ASSERT_EQ(proposal.net() + proposal.tax(), proposal.gross());
    }
}

TEST(FiscalSettingsRules, CheckTheProfileBeforeTheSeries) {
    struct Case {
        const char* name;
        std::function<void(FiscalSettings&)> change;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"defaults", [](FiscalSettings&) {}, std::nullopt},
        {"lower-case country", [](FiscalSettings& s) { s.country = "es"; }, profileMessage},
        {"three-letter country", [](FiscalSettings& s) { s.country = "ESP"; }, profileMessage},
        {"empty country", [](FiscalSettings& s) { s.country = ""; }, profileMessage},
        {"accented country", [](FiscalSettings& s) { s.country = "ÉS"; }, profileMessage},
        {"country with line break", [](FiscalSettings& s) { s.country = "ES\n"; }, profileMessage},
        {"two-letter currency", [](FiscalSettings& s) { s.currency = "EU"; }, profileMessage},
        {"lower-case currency", [](FiscalSettings& s) { s.currency = "eur"; }, profileMessage},
        {"other currency", [](FiscalSettings& s) { s.currency = "USD"; }, std::nullopt},
        {"blank tax name", [](FiscalSettings& s) { s.taxName = " \t\n\u00A0"; }, profileMessage},
        {"no rates", [](FiscalSettings& s) { s.rates.clear(); }, profileMessage},
        {"duplicate rates",
         [](FiscalSettings& s) {
             s.rates = {400, 400};
         },
         profileMessage},
        {"rate 0 and 10000",
         [](FiscalSettings& s) {
             s.rates = {0, 10000};
         },
         std::nullopt},
        {"rate 10001", [](FiscalSettings& s) { s.rates = {10001}; }, profileMessage},
        {"rate -1",
         [](FiscalSettings& s) {
             s.rates = {-1, 2100};
         },
         profileMessage},
        {"same series", [](FiscalSettings& s) { s.simpleSeries = "F"; }, seriesMessage},
        {"first equals last", [](FiscalSettings& s) { s.correctionSeries = "F"; }, seriesMessage},
        {"series differ by case", [](FiscalSettings& s) { s.simpleSeries = "f"; }, std::nullopt},
        {"30 characters", [](FiscalSettings& s) { s.fullSeries = std::string(30, 'A'); }, std::nullopt},
        {"31 characters", [](FiscalSettings& s) { s.fullSeries = std::string(31, 'A'); }, seriesMessage},
        {"empty series", [](FiscalSettings& s) { s.correctionSeries = ""; }, seriesMessage},
        {"letters, digits, slash, hyphen", [](FiscalSettings& s) { s.fullSeries = "Fa-2026/01"; },
         std::nullopt},
        {"blank in series", [](FiscalSettings& s) { s.simpleSeries = "S 1"; }, seriesMessage},
        {"underscore in series", [](FiscalSettings& s) { s.simpleSeries = "S_1"; }, seriesMessage},
        {"accent in series", [](FiscalSettings& s) { s.correctionSeries = "RÉ"; }, seriesMessage},
        {"both broken",
         [](FiscalSettings& s) {
             s.country = "es";
             s.simpleSeries = "F";
         },
         profileMessage},
        {"issuer and installation unchecked",
         [](FiscalSettings& s) {
             s.issuerTaxID = "";
             s.installation = "x";
         },
         std::nullopt},
    };
    for (const Case& c : cases) {
        FiscalSettings settings;
        c.change(settings);
        EXPECT_EQ(failure([&] { FiscalRules::validateSettings(settings); }), c.message) << c.name;
    }
}

TEST(ProposalRules, AcceptBetweenOneAndAThousandLines) {
    const FiscalSettings settings;
    for (std::size_t count : {0u, 1u, 1000u, 1001u}) {
        const InvoiceProposal proposal = proposalWith(std::vector<FiscalLine>(count, line(1, 100, 1000)));
        const auto expected = count == 0 || count > 1000 ? std::optional(lineCountMessage) : std::nullopt;
        EXPECT_EQ(failure([&] { FiscalRules::validate(proposal, settings, false); }), expected) << count;
    }
}

TEST(ProposalRules, CheckEveryLine) {
    using K = InvoiceKind;
    struct Case {
        const char* name;
        FiscalLine line;
        K kind;
        bool valid;
    };
    const Case cases[] = {
        {"plain", line(1, 1000, 1000), K::full, true},
        {"blank description", line(1, 1000, 1000, " \n\t"), K::full, false},
        {"empty description", line(1, 1000, 1000, ""), K::full, false},
        {"500 ASCII", line(1, 1, 1000, std::string(500, 'a')), K::full, true},
        {"501 ASCII", line(1, 1, 1000, std::string(501, 'a')), K::full, false},
        {"500 ñ (1000 bytes)", line(1, 1, 1000, repeated("ñ", 500)), K::full, true},
        {"501 ñ", line(1, 1, 1000, repeated("ñ", 501)), K::full, false},
        {"500 n + combining tilde", line(1, 1, 1000, repeated("n\u0303", 500)), K::full, true},
        {"501 n + combining tilde", line(1, 1, 1000, repeated("n\u0303", 501)), K::full, false},
        {"500 emoji with skin tone", line(1, 1, 1000, repeated("👍🏽", 500)), K::full, true},
        {"500 CR LF", line(1, 1, 1000, "x" + repeated("\r\n", 499)), K::full, true},
        {"501 flags", line(1, 1, 1000, repeated("🇪🇸", 501)), K::full, false},
        {"500 counted untrimmed", line(1, 1, 1000, " " + std::string(499, 'a') + " "), K::full, false},
        {"invalid UTF-8, short", line(1, 1, 1000, "\xff\xfe pizza"), K::full, true},
        {"invalid UTF-8, long", line(1, 1, 1000, std::string(600, '\xff')), K::full, false},
        {"stray continuation bytes", line(1, 1, 1000, std::string(600, '\x80')), K::full, false},
        {"truncated sequences", line(1, 1, 1000, repeated("\xc3", 501)), K::full, false},
        {"500 ñ then a truncated one", line(1, 1, 1000, repeated("ñ", 500) + "\xc3"), K::full, false},
        {"quantity 0", line(0, 1000, 1000), K::full, false},
        {"quantity 999", line(999, 1000, 1000), K::full, true},
        {"quantity 1000", line(1000, 1000, 1000), K::full, false},
        {"quantity -999 correction", line(-999, 1000, 1000), K::correction, true},
        {"quantity -1000 correction", line(-1000, 1000, 1000), K::correction, false},
        {"quantity -1 full", line(-1, 1000, 1000), K::full, false},
        {"quantity -1 simplified", line(-1, 1000, 1000), K::simplified, false},
        {"quantity -1 correction", line(-1, 1000, 1000), K::correction, true},
        {"quantity -1 simplified correction", line(-1, 1000, 1000), K::simplifiedCorrection, true},
        {"price 0", line(1, 0, 1000), K::full, true},
        {"price -1", line(1, -1, 1000), K::full, false},
        {"price 99,999,999", line(1, 99'999'999, 1000), K::full, true},
        {"price 100,000,000", line(1, 100'000'000, 1000), K::full, false},
        {"rate -1", line(1, 1000, -1), K::full, false},
        {"rate 0", line(1, 1000, 0), K::full, true},
        {"rate 10000", line(1, 1000, 10000), K::full, true},
        {"rate 10001", line(1, 1000, 10001), K::full, false},
        {"rate not among the settings", line(1, 1000, 750), K::full, true},
    };
    for (const Case& c : cases) {
        // The bad line comes after a good one: every line is checked, not only the first.
        const InvoiceProposal proposal = proposalWith({line(1, 0, 2100), c.line}, c.kind);
        const auto expected = c.valid ? std::nullopt : std::optional(linesMessage);
        EXPECT_EQ(failure([&] { FiscalRules::validate(proposal, FiscalSettings{}, false); }), expected)
            << c.name;
    }
}

TEST(ProposalRules, FirstFailingRuleDecidesTheMessage) {
    const FiscalSettings incomplete;
    const FiscalSettings settings = completeSettings();
    using K = InvoiceKind;
    struct Case {
        const char* name;
        InvoiceProposal proposal;
        const FiscalSettings& settings;
        std::optional<std::string> draft, complete; // message with complete false, true
    };
    const InvoiceProposal tooMuch = proposalWith({line(999, 99'999'999, 2100)});
    InvoiceProposal tooMuchAndBadLine = proposalWith({line(999, 99'999'999, 2100), line(0, 1, 2100)});
    InvoiceProposal noLinesNoOrigin = proposalWith({}, K::correction);
    noLinesNoOrigin.correctionOf.reset();
    InvoiceProposal noOrigin = withRecipient(proposalWith({line(-1, 500, 1000)}, K::correction));
    noOrigin.correctionOf.reset();
    InvoiceProposal blankReason = withRecipient(proposalWith({line(-1, 500, 1000)}, K::correction));
    blankReason.reason = " \n ";
    InvoiceProposal tooMuchNoOrigin = proposalWith({line(-999, 99'999'999, 2100)}, K::correction);
    tooMuchNoOrigin.correctionOf.reset();
    InvoiceProposal noTaxID = withRecipient(proposalWith({line(1, 500, 1000)}));
    noTaxID.recipientTaxID = "";
    InvoiceProposal blankRecipient = withRecipient(proposalWith({line(1, 500, 1000)}));
    blankRecipient.recipientAddress = " "; // not trimmed: present

    const Case cases[] = {
        {"two maximal lines", proposalWith({line(1, 99'999'999, 0), line(1, 1, 0)}), settings, amountMessage,
         amountMessage},
        {"maximal total", proposalWith({line(1, 99'999'998, 0), line(1, 1, 0)}), incomplete, std::nullopt,
         issuerMessage},
        {"negative total beyond the limit",
         proposalWith({line(-1, 99'999'999, 0), line(-1, 1, 0)}, K::correction), settings, amountMessage,
         amountMessage},
        {"line before amount", tooMuchAndBadLine, settings, linesMessage, linesMessage},
        {"single large line", tooMuch, settings, amountMessage, amountMessage},
        {"count before correction", noLinesNoOrigin, settings, lineCountMessage, lineCountMessage},
        {"amount before correction", tooMuchNoOrigin, settings, amountMessage, amountMessage},
        {"no origin", noOrigin, settings, correctionMessage, correctionMessage},
        {"blank reason", blankReason, settings, correctionMessage, correctionMessage},
        {"correction without issuer", proposalWith({line(-1, 500, 1000)}, K::correction), incomplete,
         std::nullopt, issuerMessage},
        {"issuer before recipient", proposalWith({line(1, 500, 1000)}), incomplete, std::nullopt,
         issuerMessage},
        {"full without recipient", proposalWith({line(1, 500, 1000)}), settings, std::nullopt,
         recipientMessage},
        {"full without tax ID", noTaxID, settings, std::nullopt, recipientMessage},
        {"blank recipient address", blankRecipient, settings, std::nullopt, std::nullopt},
        {"correction without recipient", proposalWith({line(-1, 500, 1000)}, K::correction), settings,
         std::nullopt, recipientMessage},
        {"simplified without recipient", proposalWith({line(1, 500, 1000)}, K::simplified), settings,
         std::nullopt, std::nullopt},
        {"simplified correction without recipient",
         proposalWith({line(-1, 500, 1000)}, K::simplifiedCorrection), settings, std::nullopt, std::nullopt},
        {"simplified at 300,000", proposalWith({line(2, 150'000, 1000)}, K::simplified), settings,
         std::nullopt, std::nullopt},
        {"simplified at 300,001", proposalWith({line(2, 150'000, 1000), line(1, 1, 0)}, K::simplified),
         settings, std::nullopt, simplifiedMessage},
        {"simplified over the limit, no issuer", proposalWith({line(1, 300'001, 1000)}, K::simplified),
         incomplete, std::nullopt, issuerMessage},
        {"full at 500,000", withRecipient(proposalWith({line(1, 500'000, 2100)})), settings, std::nullopt,
         std::nullopt},
        {"simplified correction over 300,000",
         proposalWith({line(-1, 400'000, 1000)}, K::simplifiedCorrection), settings, std::nullopt,
         std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(failure([&] { FiscalRules::validate(c.proposal, c.settings, false); }), c.draft) << c.name;
        EXPECT_EQ(failure([&] { FiscalRules::validate(c.proposal, c.settings, true); }), c.complete)
            << c.name;
    }
}

TEST(ArchiveRules, CheckSettingsThenProposalsThenConsistency) {
    const auto validProposal = [] { return proposalWith({line(1, 1000, 1000)}); };
    struct Case {
        const char* name;
        std::function<void(FiscalState&)> change;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"empty archive", [](FiscalState&) {}, std::nullopt},
        {"proposals",
         [&](FiscalState& s) {
             s.proposals = {validProposal(), validProposal()};
         },
         std::nullopt},
        {"numbers are carried",
         [](FiscalState& s) {
             s.nextNumbers = {{"F", 7}};
         },
         std::nullopt},
        {"bad settings", [](FiscalState& s) { s.settings.currency = "eur"; }, profileMessage},
        {"bad series", [](FiscalState& s) { s.settings.fullSeries = "S"; }, seriesMessage},
        {"bad proposal",
         [&](FiscalState& s) {
             s.proposals = {validProposal(), proposalWith({})};
         },
         lineCountMessage},
        {"corrective proposal",
         [&](FiscalState& s) { s.proposals = {proposalWith({line(-1, 5, 0)}, InvoiceKind::correction)}; },
         std::nullopt},
        {"duplicate ids",
         [&](FiscalState& s) {
             s.proposals = {validProposal(), validProposal()};
             s.proposals[1].id = s.proposals[0].id;
         },
         inconsistentMessage},
        {"an invoice", [](FiscalState& s) { s.invoices.emplace_back(); }, inconsistentMessage},
        {"an event", [](FiscalState& s) { s.events.emplace_back(); }, inconsistentMessage},
        {"settings before invoices",
         [](FiscalState& s) {
             s.invoices.emplace_back();
             s.settings.rates = {};
         },
         profileMessage},
        {"proposals before duplicates",
         [&](FiscalState& s) {
             s.proposals = {validProposal(), validProposal(), proposalWith({line(1, 5, -1)})};
             s.proposals[1].id = s.proposals[0].id;
         },
         linesMessage},
    };
    for (const Case& c : cases) {
        FiscalState state;
        c.change(state);
        EXPECT_EQ(failure([&] { FiscalRules::validateArchive(state); }), c.message) << c.name;
    }
}

TEST(ArchiveRules, AcceptTheArchivesOfGeneratedDocuments) {
    for (std::uint64_t seed = 1; seed <= 20; ++seed) {
        const Database db =
            pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::small(), seed);
        if (db.fiscal) {
            EXPECT_EQ(failure([&] { FiscalRules::validateArchive(*db.fiscal); }), std::nullopt) << seed;
        }
    }
}

TEST(EmissionGate, StaysShut) {
    static_assert(!FiscalRules::productionValidated);
    EXPECT_EQ(
        FiscalRules::pendingValidation,
        "La emisión fiscal NO VERI*FACTU aún no está habilitada: faltan la validación completa de firma, "
        "eventos y conservación y la declaración responsable del productor. Puedes configurar el módulo y "
        "guardar propuestas sin validez fiscal.");
}
