// The sessions screen on real data directories: the day's tiles over two shifts, the history with
// frozen figures for closed shifts and live ones for the open shift, the manual close with its
// question, a manual close that comes after the automatic one, and the closing reports: printed
// through the dialog, saved as PDF, and printed unasked at each close on a real CUPS scheduler.

#include <Velmora/Views/Sessions/SessionsView.hpp>

#include "PrivateCups.hpp"
#include "ScreenTesting.hpp"

#include <Velmora/Services/ClosingReports.hpp>
#include <Velmora/Services/TicketService.hpp>
#include <support/ScopedVariable.hpp>

#include <poppler-document.h>
#include <poppler-page.h>

#include <QSignalSpy>

#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollArea>
#include <QThreadPool>

namespace {

using namespace velmora::testing;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::PaymentMethod;
using velmora::SessionsModel;
using velmora::SessionsView;

QString field(const SessionsView& view, int row, int role) {
    return view.model().index(row).data(role).toString();
}

// The text of every page of a PDF file, read by poppler.
std::string pdfText(const std::filesystem::path& file) {
    std::string text;
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(file.string()));
    if (!document) return text;
    for (int i = 0; i < document->pages(); ++i) {
        std::unique_ptr<poppler::page> page(document->create_page(i));
        const poppler::byte_array bytes = page->text().to_utf8();
        text.append(bytes.begin(), bytes.end());
    }
    return text;
}

bool waitFor(QSignalSpy& spy, qsizetype count = 1, int milliseconds = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (spy.size() < count && std::chrono::steady_clock::now() < deadline)
        QTest::qWait(10);
    return spy.size() >= count;
}

class SessionsViewTest : public ScreenTest {
protected:
    void prepare(Database& db) override {
        margarita_ = product(db, "Margarita", 1000);
        bebida_ = product(db, "Refresco", 500);
        // First shift: 10,00 paid in cash and 5,00 still owed.
        order(db, margarita_, std::nullopt, "600000001", PaymentMethod::cash, Instant{friday.seconds + 60});
        owed_ = order(db, bebida_, std::nullopt, "600000002", std::nullopt, Instant{friday.seconds + 120});
        *now_ = Instant{friday.seconds + 3600};
    }
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        view_ = std::make_unique<SessionsView>(store());
        view_->resize(1000, 800);
        view_->show();
        settle();
    }

    void pressClose(const QString& answer) {
        platform_.answerNextAlert(answer);
        view_->findChild<QPushButton*>(QStringLiteral("closeShift"))->click();
        // A close folds the journal into the data file and copies it in the background: the
        // checks read the folder once that is over, not halfway through.
        written();
    }

    pizzacore::Product margarita_;
    pizzacore::Product bebida_;
    pizzacore::Order owed_;
    std::unique_ptr<SessionsView> view_;
};

TEST_F(SessionsViewTest, TheOpenShiftShowsItsDayTilesAndLiveFigures) {
    EXPECT_TRUE(view_->showsCurrentDay());
    EXPECT_EQ(view_->dayTitle(), "Jornada comercial 2025-03-07");
    EXPECT_EQ(view_->tiles(), (QStringList{"15,00 EUR", "10,00 EUR", "5,00 EUR", "10,00 EUR", "0,00 EUR"}));
    EXPECT_TRUE(view_->nextClosing().startsWith("Próximo cierre automático: "));
    EXPECT_TRUE(view_->nextClosing().endsWith(" · Europe/Madrid"));
    auto* close = view_->findChild<QPushButton*>(QStringLiteral("closeShift"));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->accessibleName(), "Cerrar tramo de caja ahora");

    ASSERT_EQ(view_->model().rowCount(), 1);
    EXPECT_EQ(field(*view_, 0, Qt::DisplayRole), "2025-03-07");
    EXPECT_EQ(field(*view_, 0, SessionsModel::StateRole), "Abierto");
    EXPECT_TRUE(field(*view_, 0, SessionsModel::HoursRole).endsWith(" → ahora"));
    EXPECT_EQ(field(*view_, 0, SessionsModel::SalesRole), "Ventas: 15,00 EUR");
    EXPECT_EQ(field(*view_, 0, SessionsModel::ReceiptsRole), "Cobros: 10,00 EUR");
    EXPECT_EQ(field(*view_, 0, SessionsModel::UnpaidRole), "Pendiente global al cierre: —");
}

TEST_F(SessionsViewTest, AManualCloseAsksFirstAndTheDayAddsBothShifts) {
    pressClose(QStringLiteral("Cancelar"));
    ASSERT_EQ(platform_.alerts().size(), 1u);
    EXPECT_EQ(platform_.alerts().back().message,
              "¿Cerrar el tramo actual? Los pedidos pendientes se conservan.");
    EXPECT_EQ(platform_.alerts().back().buttons, (QStringList{"Cerrar tramo", "Cancelar"}));
    EXPECT_EQ(store().db().sessions.size(), 1u);

    pressClose(QStringLiteral("Cerrar tramo"));
    const Database saved = reloaded();
    ASSERT_EQ(saved.sessions.size(), 2u);
    EXPECT_EQ(saved.sessions[0].reason, "Manual");
    EXPECT_EQ(saved.sessions[1].businessDay, "2025-03-07");
    EXPECT_FALSE(store().message());

    // The second shift sells 5,00 by card and takes the payment of the first shift's debt.
    *now_ = Instant{friday.seconds + 7200};
    ASSERT_TRUE(store().transact([this](Database& db) {
        pizzacore::Draft draft;
        draft.lines.push_back(pizzacore::Line::make(bebida_));
        const pizzacore::Order sold = db.confirm(draft, *now_);
        db.pay(sold.id, PaymentMethod::card, std::nullopt, *now_);
        db.pay(owed_.id, PaymentMethod::card, std::nullopt, *now_);
    }));
    EXPECT_EQ(view_->tiles(), (QStringList{"20,00 EUR", "20,00 EUR", "0,00 EUR", "10,00 EUR", "10,00 EUR"}));
    saveScreenshot(*view_, "Velmora-jornadas.png");

    ASSERT_EQ(view_->model().rowCount(), 2);
    EXPECT_EQ(field(*view_, 0, SessionsModel::StateRole), "Abierto");
    EXPECT_EQ(field(*view_, 0, SessionsModel::SalesRole), "Ventas: 5,00 EUR");
    EXPECT_EQ(field(*view_, 0, SessionsModel::ReceiptsRole), "Cobros: 10,00 EUR");
    EXPECT_EQ(field(*view_, 1, SessionsModel::StateRole), "Cerrado · Manual");
    EXPECT_FALSE(field(*view_, 1, SessionsModel::HoursRole).endsWith("ahora"));
    EXPECT_EQ(field(*view_, 1, SessionsModel::SalesRole), "Ventas: 15,00 EUR");
    EXPECT_EQ(field(*view_, 1, SessionsModel::ReceiptsRole), "Cobros: 10,00 EUR");
    // What was owed at the close stays as it was, although it has been paid since.
    EXPECT_EQ(field(*view_, 1, SessionsModel::UnpaidRole), "Pendiente global al cierre: 5,00 €");
    // Each shift's receipts by method.
    EXPECT_EQ(field(*view_, 0, SessionsModel::SplitRole), "Efectivo: 0,00 EUR · Tarjeta: 10,00 EUR");
    EXPECT_EQ(field(*view_, 1, SessionsModel::SplitRole), "Efectivo: 10,00 EUR · Tarjeta: 0,00 EUR");
}

TEST_F(SessionsViewTest, TheHistoryTakesTheVisibleHeightOfEveryScreen) {
    for (const QSize size : {QSize(1024, 768), QSize(1366, 768), QSize(1920, 1080)}) {
        view_->resize(size);
        settle();
        auto* scroll = view_->findChild<QScrollArea*>(QStringLiteral("sessionsScroll"));
        ASSERT_NE(scroll, nullptr);
        EXPECT_GE(view_->history().height(), scroll->viewport()->height() - 48) << size.height();
    }
}

TEST_F(SessionsViewTest, ClosedShiftsShowTheFiguresStoredAtTheirClose) {
    pressClose(QStringLiteral("Cerrar tramo"));
    ASSERT_TRUE(store().transact([](Database& db) {
        db.sessions[0].salesAtClose = 12345;
        db.sessions[0].receiptsAtClose = 678;
    }));
    EXPECT_EQ(field(*view_, 1, SessionsModel::SalesRole), "Ventas: 123,45 EUR");
    EXPECT_EQ(field(*view_, 1, SessionsModel::ReceiptsRole), "Cobros: 6,78 EUR");
}

TEST_F(SessionsViewTest, AManualCloseAfterTheAutomaticOneChangesNothingAndSaysNothing) {
    // The question stays open past the closing hour (04:00 in Madrid) and the clock ticks meanwhile.
    platform_.beforeNextAlert = [this] {
        *now_ = Instant::fromUnix(1741410000.0); // 2025-03-08 05:00 UTC
        store().tick();
    };
    const pizzacore::Uuid first = store().db().sessions.front().id;
    pressClose(QStringLiteral("Cerrar tramo"));
    const Database saved = reloaded();
    ASSERT_EQ(saved.sessions.size(), 2u);
    EXPECT_EQ(saved.sessions[0].id, first);
    EXPECT_EQ(saved.sessions[0].reason, "Automático");
    EXPECT_FALSE(saved.sessions[1].closed);
    EXPECT_FALSE(store().message());
    EXPECT_EQ(view_->dayTitle(), "Jornada comercial 2025-03-08");
    EXPECT_EQ(field(*view_, 1, SessionsModel::StateRole), "Cerrado · Automático");
    // Sales of the new day start at nothing; the debt of the day before is still owed.
    EXPECT_EQ(view_->tiles(), (QStringList{"0,00 EUR", "0,00 EUR", "5,00 EUR", "0,00 EUR", "0,00 EUR"}));
}

TEST_F(SessionsViewTest, WithoutAnOpenShiftOnlyTheHistoryIsShown) {
    const velmora::Outcome outcome = store().transact([this](Database& db) {
        db.sessions.back().closed = *now_;
        db.sessions.back().reason = "Manual";
        db.sessions.back().salesAtClose = 1500;
        db.sessions.back().receiptsAtClose = 1000;
        db.sessions.back().unpaidAtClose = 500;
    });
    if (!outcome)
        GTEST_SKIP() << "a stored document always has an open shift: " << outcome.failure.toStdString();
    EXPECT_FALSE(view_->showsCurrentDay());
    EXPECT_EQ(view_->model().rowCount(), 1);
}

TEST_F(SessionsViewTest, EachShiftAndTheDayOfferTheirClosingReports) {
    // No print system answers: the dialog opens without a printer to propose.
    const pizzacore::testing::ScopedVariable nowhere("CUPS_SERVER", (folder() / "no-cups.sock").string());
    view_.reset();
    view_ = std::make_unique<SessionsView>(store());
    view_->resize(1000, 800);
    view_->show();
    settle();
    for (const auto& [name, label] : {std::pair{"printShiftReport", "Imprimir informe del tramo…"},
                                      std::pair{"printDayReport", "Imprimir informe de la jornada…"},
                                      std::pair{"previewDayReport", "Vista previa / PDF de la jornada"}}) {
        auto* button = view_->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text(), QString::fromUtf8(label));
        EXPECT_EQ(button->accessibleName(), button->text());
    }
    pressClose(QStringLiteral("Cerrar tramo"));
    ASSERT_EQ(view_->model().rowCount(), 2);
    EXPECT_EQ(accessibleActions(view_->history(), 1).mid(0, 3),
              (QStringList{"Imprimir informe…", "Vista previa / PDF", "Informe de la jornada…"}));

    // The closed shift's report, saved where the operator says and opened: its own figures only.
    const std::filesystem::path file = folder() / "informe.pdf";
    platform_.answerNextSavePanel(file);
    // Reports are worked out away from the window: they come back a moment after the click.
    QSignalSpy handled(&view_->reports(), &velmora::ClosingReports::reportHandled);
    clickRowButton(view_->history(), view_->historyActions(), 1, 1);
    ASSERT_TRUE(waitFor(handled));
    ASSERT_EQ(platform_.savePanels().size(), 1u);
    EXPECT_EQ(platform_.savePanels()[0].proposedName, "Informe-2025-03-07-tramo-1-A4.pdf");
    EXPECT_EQ(platform_.opened(), std::vector<std::filesystem::path>{file});
    const std::string text = pdfText(file);
    for (const char* expected : {"Tramo 1 · Jornada comercial 2025-03-07", "TOTAL DEL TRAMO",
                                 "Motivo del cierre", "Manual", "15,00 EUR", "Recoger · 2 pedidos"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

    // The day's report from the open shift's buttons: both shifts.
    const std::filesystem::path dayFile = folder() / "jornada.pdf";
    platform_.answerNextSavePanel(dayFile);
    view_->findChild<QPushButton*>(QStringLiteral("previewDayReport"))->click();
    ASSERT_TRUE(waitFor(handled, 2));
    ASSERT_EQ(platform_.savePanels().size(), 2u);
    EXPECT_EQ(platform_.savePanels()[1].proposedName, "Informe-2025-03-07-A4.pdf");
    const std::string day = pdfText(dayFile);
    EXPECT_NE(day.find("TOTAL DE LA JORNADA"), std::string::npos) << day;
    EXPECT_NE(day.find("TRAMO 2"), std::string::npos) << day;

    // Printing opens the print dialog with the report's title; cancelled, it says so and changes
    // nothing.
    QSignalSpy finished(&view_->reports().printing(), &velmora::TicketService::printFinished);
    const std::size_t audit = store().db().audit.size();
    clickRowButton(view_->history(), view_->historyActions(), 1, 0);
    ASSERT_TRUE(waitFor(finished));
    EXPECT_FALSE(finished[0][0].toBool());
    const QString message = store().message().value_or(QString());
    ASSERT_EQ(platform_.printDialogs().size(), 1u) << message.toStdString();
    EXPECT_EQ(platform_.printDialogs()[0].title, "Informe de cierre 2025-03-07 tramo 1");
    EXPECT_EQ(message, velmora::ClosingReports::notPrinted + " Impresión cancelada.");
    view_->findChild<QPushButton*>(QStringLiteral("printDayReport"))->click();
    ASSERT_TRUE(waitFor(finished, 2));
    ASSERT_EQ(platform_.printDialogs().size(), 2u);
    EXPECT_EQ(platform_.printDialogs()[1].title, "Informe de cierre 2025-03-07");
    EXPECT_EQ(store().db().audit.size(), audit);
}

// With the setting on, each shift that closes prints its report on the preferred printer of a
// private CUPS scheduler, with no dialog: by hand and by the clock.
TEST_F(SessionsViewTest, ClosingPrintsTheShiftsReportUnaskedWhenTheSettingsSaySo) {
    velmora::testing::PrivateCups cups;
    if (!cups.failure().empty()) GTEST_SKIP() << "no private CUPS scheduler: " << cups.failure();
    // The view's printing service reaches the scheduler as it is made now.
    view_.reset();
    view_ = std::make_unique<SessionsView>(store());
    view_->show();
    ASSERT_TRUE(store().transact([](Database& db) {
        db.settings.printer = "Tickets";
        db.settings.printReportOnClose = true;
    }));
    QSignalSpy finished(&view_->reports().printing(), &velmora::TicketService::printFinished);

    pressClose(QStringLiteral("Cerrar tramo"));
    ASSERT_TRUE(waitFor(finished)) << cups.log();
    EXPECT_TRUE(finished[0][0].toBool()) << store().message().value_or(QString()).toStdString();
    EXPECT_TRUE(platform_.printDialogs().empty());
    std::string printed = pdfText(cups.output("Tickets"));
    EXPECT_NE(printed.find("Tramo 1 · Jornada comercial 2025-03-07"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Manual"), std::string::npos) << printed;

    // The clock closes the second shift at 04:00 of the next morning.
    *now_ = Instant{friday.seconds + 16 * 3600};
    store().tick();
    written();
    ASSERT_TRUE(waitFor(finished, 2)) << cups.log();
    EXPECT_TRUE(finished[1][0].toBool()) << store().message().value_or(QString()).toStdString();
    printed = pdfText(cups.output("Tickets"));
    EXPECT_NE(printed.find("Tramo 2 · Jornada comercial 2025-03-07"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Automático"), std::string::npos) << printed;
    EXPECT_FALSE(store().message());
}

TEST_F(SessionsViewTest, AReportThatCannotPrintAtTheCloseIsSaidAndTheCloseStands) {
    const pizzacore::testing::ScopedVariable nowhere("CUPS_SERVER", (folder() / "no-cups.sock").string());
    view_.reset();
    view_ = std::make_unique<SessionsView>(store());
    view_->show();
    QSignalSpy finished(&view_->reports().printing(), &velmora::TicketService::printFinished);
    // Off by default: a close prints nothing.
    pressClose(QStringLiteral("Cerrar tramo"));
    QTest::qWait(100);
    EXPECT_TRUE(finished.empty());

    ASSERT_TRUE(store().transact([](Database& db) { db.settings.printReportOnClose = true; }));
    pressClose(QStringLiteral("Cerrar tramo"));
    ASSERT_TRUE(waitFor(finished));
    EXPECT_FALSE(finished[0][0].toBool());
    EXPECT_EQ(store().message().value_or(QString()),
              velmora::ClosingReports::notPrintedAtClose + " No hay ninguna impresora disponible.");
    EXPECT_TRUE(platform_.printDialogs().empty());
    const Database saved = reloaded();
    ASSERT_EQ(saved.sessions.size(), 3u);
    EXPECT_EQ(saved.sessions[1].reason, "Manual");
    EXPECT_FALSE(saved.sessions[2].closed);
}

} // namespace

// The screen may go while its report is still being worked out: the report is dropped unread and
// nothing is saved, opened or said.
TEST_F(SessionsViewTest, AReportAskedForAsTheScreenClosesIsDroppedQuietly) {
    view_->findChild<QPushButton*>(QStringLiteral("previewDayReport"))->click();
    view_.reset();
    QThreadPool::globalInstance()->waitForDone(30000);
    settle();
    EXPECT_TRUE(platform_.savePanels().empty());
    EXPECT_TRUE(platform_.opened().empty());
    EXPECT_FALSE(store().message());
}
