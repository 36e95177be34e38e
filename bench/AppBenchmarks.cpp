// One saveDraft of the application's controller, the save the main window makes after every change
// of the order being taken, on a real data directory: with a small restaurant's document and with a
// busy year's (50,000 orders, 200 products with photos). Each iteration changes the draft and saves
// it: copy of the document, encoding, validation, the check of the stored file, the previous copy
// and the atomic replacement.
//
// Also the daily copy kept at each close, on the busy year's document file, and the ticket the
// settings window's preview draws for every pause in the typing.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/DailyBackups.hpp>
#include <Velmora/Views/TicketPreview.hpp>
#include <support/TestFiles.hpp>

#include <PizzaCore/PizzaCore.hpp>
#include <app/TestPlatformServices.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>

#include <PizzaCore/Documents/TicketRenderer.hpp>

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::TemporaryDirectory;

void saveDraft(benchmark::State& state, const DocumentShape& shape) {
    TemporaryDirectory directory;
    const pizzacore::Database document = pizzacore::testing::makeDocument(shape, 2025);
    pizzacore::Repository(directory.path(), false).save(document);
    // A clock inside the open session, so that start-up closes nothing.
    const pizzacore::Instant now{document.sessions.back().opened.seconds + 60};

    velmora::testing::TestPlatformServices platform;
    velmora::AppStore store(directory.path(), pizzacore::Clock::fixed(now), platform);
    store.start();
    if (store.fatal()) {
        state.SkipWithError(store.fatal()->toStdString().c_str());
        return;
    }
    pizzacore::Draft draft = store.draft();
    std::int64_t round = 0;
    for (auto _ : state) {
        draft.notes = "Llamar al timbre " + std::to_string(++round);
        store.setDraft(draft);
        if (!store.saveDraft()) {
            state.SkipWithError(store.message()->toStdString().c_str());
            return;
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(store.location() / "Velmora.json"));
}

void BM_SaveDraftTiny(benchmark::State& state) {
    saveDraft(state, DocumentShape::tiny());
}
void BM_SaveDraftSmall(benchmark::State& state) {
    saveDraft(state, DocumentShape::small());
}
void BM_SaveDraftBusyYear(benchmark::State& state) {
    saveDraft(state, DocumentShape::busyYear());
}

// The copy of a busy year's document file into the daily folder, a new business day each time so
// that the rotation to 30 copies runs too.
void BM_DailyBackupBusyYear(benchmark::State& state) {
    TemporaryDirectory directory;
    const pizzacore::Database document = pizzacore::testing::makeDocument(DocumentShape::busyYear(), 2025);
    pizzacore::Repository repository(directory.path(), false);
    repository.save(document);
    const fs::path folder = velmora::DailyBackups::folder(directory.path());
    int day = 0;
    for (auto _ : state) {
        char name[16];
        std::snprintf(name, sizeof name, "2025-%02d-%02d", 1 + (day / 28) % 12, 1 + day % 28);
        ++day;
        velmora::DailyBackups::write(repository.file(), folder, name);
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(repository.file()));
}

// The preview's sample order with a logo, on A4 and on 80 mm roll paper (kitchen, bar and
// customer tickets).
void previewTicket(benchmark::State& state, pizzacore::Paper paper) {
    pizzacore::Settings settings;
    settings.paper = paper;
    settings.bar = true;
    QImage logo(300, 150, QImage::Format_RGB32);
    logo.fill(QColor(0xC0, 0x40, 0x20));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    logo.save(&buffer, "PNG");
    settings.logo = pizzacore::Bytes(png.begin(), png.end());
    const pizzacore::Order order = velmora::TicketPreview::sampleOrder(pizzacore::Instant{763041600});
    const pizzacore::Payment payment = velmora::TicketPreview::samplePayment(order);
    for (auto _ : state)
        benchmark::DoNotOptimize(pizzacore::TicketRenderer::render(order, settings, payment, false));
}
void BM_PreviewTicketA4(benchmark::State& state) {
    previewTicket(state, pizzacore::Paper::a4);
}
void BM_PreviewTicketRoll80(benchmark::State& state) {
    previewTicket(state, pizzacore::Paper::mm80);
}

BENCHMARK(BM_DailyBackupBusyYear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewTicketA4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewTicketRoll80)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftTiny)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveDraftBusyYear)->Unit(benchmark::kMillisecond)->MinTime(5.0);

} // namespace
