// The printed documents: the three tickets of an order on 80 mm roll paper with a 200 KB JPEG
// logo (printed dozens of times an hour), and an invoice proposal of 1,000 concepts, the most a
// proposal may hold. Each iteration renders a complete PDF; its size is reported as a counter.

#include <PizzaCore/Documents/LogoImage.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/TestImages.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace pizzacore;

// A photograph-like logo of at least 200 KB: gradients with noise, which JPEG cannot squeeze.
const Bytes& logo() {
    static const Bytes bytes = [] {
        std::uint32_t seed = 12345;
        const auto colours = [&seed](int x, int y) {
            seed = seed * 1664525u + 1013904223u;
            const std::uint32_t noise = (seed >> 24) & 0x3F;
            return (static_cast<std::uint32_t>(x / 4 + noise) & 0xFF) << 16 |
                   (static_cast<std::uint32_t>(y / 3 + noise) & 0xFF) << 8 | ((x + y) / 8 & 0xFF);
        };
        for (int width = 500;; width += width / 10) {
            Bytes jpeg = testing::jpegImage(width, width * 2 / 3, colours, 90);
            if (jpeg.size() >= 200'000) return jpeg;
        }
    }();
    return bytes;
}

Order twelveLineOrder() {
    Order order;
    order.number = 1234;
    order.created = Instant{818000000};
    order.draft.name = "Ana García";
    order.draft.phone = "600 123 456";
    order.draft.address = "Calle Mayor 5, 3º B";
    order.draft.mode = Mode::delivery;
    order.draft.customerNotes = "Llamar al timbre del portal";
    order.draft.notes = "Entregar antes de las 21:30";
    for (int i = 0; i < 12; ++i) {
        Line line;
        line.name = (i % 3 == 2 ? "Refresco " : "Pizza especial ") + std::to_string(i + 1);
        line.category = i % 3 == 2 ? Category::drink() : Category::pizza();
        line.cents = 850 + 75 * i;
        line.quantity = 1 + i % 2;
        if (i % 4 == 0) line.notes = "sin cebolla, masa fina";
        order.draft.lines.push_back(line);
    }
    return order;
}

Settings threeDestinations() {
    Settings settings;
    settings.business = "Pizzería Vesubio";
    settings.taxID = "B12345678";
    settings.address = "Plaza Mayor 1, Madrid";
    settings.phone = "910 000 000";
    settings.paper = Paper::mm80;
    settings.kitchen = true;
    settings.bar = true;
    settings.customer = true;
    settings.logo = logo();
    return settings;
}

void TicketThreeDestinations80mm(benchmark::State& state) {
    const Order order = twelveLineOrder();
    const Settings settings = threeDestinations();
    Payment payment;
    payment.cents = order.total();
    payment.received = payment.cents + 1000;
    std::size_t size = 0;
    for (auto _ : state) {
        const Bytes pdf = TicketRenderer::render(order, settings, payment, false);
        size = pdf.size();
        benchmark::DoNotOptimize(pdf.data());
    }
    state.counters["pdf_bytes"] = static_cast<double>(size);
    state.counters["logo_bytes"] = static_cast<double>(settings.logo->size());
}
BENCHMARK(TicketThreeDestinations80mm)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The first ticket after the logo changed: decoding and reducing the 200 KB logo once.
void LogoDecode200KB(benchmark::State& state) {
    const Bytes& bytes = logo();
    for (auto _ : state)
        benchmark::DoNotOptimize(documents::LogoImage::decode(bytes));
}
BENCHMARK(LogoDecode200KB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void Proposal1000Lines(benchmark::State& state) {
    FiscalSettings settings;
    settings.issuerName = "Pizzería Alba S.L.";
    settings.issuerTaxID = "B12345678";
    settings.issuerAddress = "Calle Mayor 1, Madrid";
    InvoiceProposal proposal;
    proposal.created = Instant{818000000};
    proposal.operationDate = Instant{818000000};
    proposal.recipientName = "Eventos Sol S.A.";
    proposal.recipientTaxID = "A87654321";
    proposal.recipientAddress = "Avenida del Puerto 12, Valencia";
    for (int i = 0; i < 1000; ++i) {
        FiscalLine line;
        line.description = "Menú de grupo " + std::to_string(i + 1);
        line.quantity = 1 + i % 5;
        line.unitGross = 995 + i;
        line.rate = i % 4 == 0 ? 2100 : 1000;
        proposal.lines.push_back(line);
    }
    std::size_t size = 0;
    for (auto _ : state) {
        const Bytes pdf = InvoiceRenderer::proposal(proposal, settings);
        size = pdf.size();
        benchmark::DoNotOptimize(pdf.data());
    }
    state.counters["pdf_bytes"] = static_cast<double>(size);
}
BENCHMARK(Proposal1000Lines)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
