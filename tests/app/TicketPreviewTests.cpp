// The ticket preview on its own: QPdfView draws pages on a thread of its own, so closing a preview
// while that thread is drawing must never leave it reading a document, buffer or bytes that are
// already gone. Under AddressSanitizer a wrong order of destruction fails at once; without it the
// loop crashed within a few dozen rounds.

#include <Velmora/Views/Orders/TicketPreview.hpp>

#include <PizzaCore/PizzaCore.hpp>

#include <QApplication>
#include <QPdfDocument>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using pizzacore::Instant;
using velmora::TicketPreview;

constexpr Instant friday = Instant::fromUnix(1741348800.0);

pizzacore::Settings settingsOnPaper(pizzacore::Paper paper) {
    pizzacore::Settings settings;
    settings.business = "Pizzería Sol";
    settings.paper = paper;
    settings.bar = true;
    return settings;
}

TEST(TicketPreviewTest, ClosingThePreviewWhileItsPagesAreDrawnNeverReadsWhatIsGone) {
    for (int round = 0; round < 60; ++round) {
        auto preview = std::make_unique<TicketPreview>();
        preview->resize(360, 520 + round % 7 * 20);
        preview->show();
        preview->preview(settingsOnPaper(round % 2 ? pizzacore::Paper::mm80 : pizzacore::Paper::a4), friday,
                         true);
        ASSERT_EQ(preview->document().status(), QPdfDocument::Status::Ready);
        // A second document replaces the first while the view may still be drawing it.
        preview->preview(settingsOnPaper(pizzacore::Paper::mm58), friday, true);
        // Let the view start drawing, then close it mid-way (a varying moment each round).
        QTest::qWait(round % 5);
        preview.reset();
    }
    QCoreApplication::processEvents();
}

} // namespace
