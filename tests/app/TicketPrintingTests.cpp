// Printing and previewing tickets: the attempt counted before the dialog, the messages of each
// failure, the paper size from the rendered pages, and real jobs on a CUPS scheduler of the
// test's own whose queue writes what it receives to a file.

#include <Velmora/Platform/CupsJob.hpp>
#include <Velmora/Platform/PdfPages.hpp>
#include <Velmora/Platform/Printers.hpp>
#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <support/ScopedVariable.hpp>
#include <support/TestFiles.hpp>

#include "PrivateCups.hpp"
#include "ScreenTesting.hpp"
#include "TestPdf.hpp"
#include "TestPlatformServices.hpp"

#include <PizzaCore/Documents/TicketRenderer.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pizzacore::Bytes;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Order;
using pizzacore::testing::readFile;
using pizzacore::testing::writeFile;
using velmora::AppStore;
using velmora::TicketService;
using velmora::testing::minimalPdf;
using velmora::testing::PrivateCups;
using velmora::testing::SilentCups;
using velmora::testing::TestPlatformServices;
using namespace velmora::testing;

const QString kept = QStringLiteral("El pedido sigue guardado. ");

int attemptEntries(const Database& db) {
    return static_cast<int>(std::count_if(db.audit.begin(), db.audit.end(), [](const pizzacore::Audit& a) {
        return a.action == "Intento de impresión";
    }));
}

// An integer attribute of the job as CUPS holds it (copies, job-priority), or -1.
int jobInteger(int job, const char* name) {
    cupsSetServer(nullptr);
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                                10000, nullptr);
    if (!http) return -1;
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/jobs/%d",
                     job);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
    ipp_t* response = cupsDoRequest(http, request, "/");
    int value = -1;
    if (ipp_attribute_t* attribute = response ? ippFindAttribute(response, name, IPP_TAG_INTEGER) : nullptr)
        value = ippGetInteger(attribute, 0);
    ippDelete(response);
    httpClose(http);
    return value;
}

// Lets the window run until `spy` holds `count` signals, which may have come already; false when
// they have not after `milliseconds`.
bool waitFor(QSignalSpy& spy, qsizetype count = 1, int milliseconds = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (spy.size() < count && std::chrono::steady_clock::now() < deadline)
        QTest::qWait(10);
    return spy.size() >= count;
}

// The ticket service over a controller opened as at the first start, whose first change is a
// pizza at 12,50 and Ana's order of it, number 27.
class TicketPrintingTest : public ScreenTest {
protected:
    TicketPrintingTest() { start_ = Start::firstStart; }
    void prepare(Database& db) override {
        pizzacore::Product pizza;
        pizza.name = "Margarita";
        pizza.category = db.categories[0];
        pizza.cents = 1250;
        db.saveProduct(pizza);
        db.nextNumber = 27;
        pizzacore::Draft draft;
        draft.name = "Ana";
        draft.lines = {pizzacore::Line::make(pizza)};
        db.confirm(draft, friday);
    }
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        makeService();
    }

    // The service under test, giving CUPS `patience` milliseconds to answer each request.
    void makeService(int patience = 8000) {
        service_.reset();
        service_ = std::make_unique<TicketService>(
            *store_,
            [this](const Order& order, const pizzacore::Settings& settings,
                   const std::optional<pizzacore::Payment>& payment, bool copy) {
                calls_.push_back({order.number, copy, settings.paper});
                if (failure_) throw pizzacore::PCError::invalid(*failure_);
                if (realTickets_) pdf_ = pizzacore::TicketRenderer::render(order, settings, payment, copy);
                return pdf_;
            },
            nullptr, 50, patience);
    }

    // Prints the order and lets the window run until the print dialog has been shown, or the
    // print has ended without it.
    void print() {
        QSignalSpy finished(service_.get(), &TicketService::printFinished);
        const std::size_t dialogs = platform_.printDialogs().size();
        service_->printOrder(order());
        for (int step = 0; step < 300 && finished.empty() && platform_.printDialogs().size() == dialogs;
             ++step)
            QTest::qWait(20);
    }

    void TearDown() override {
        service_.reset();
        store_.reset();
    }

    const Order& order() const { return store_->db().orders.front(); }

    // Takes one more order at the till and confirms it as the checkout does; its number.
    std::int64_t confirmAnother() {
        pizzacore::Draft draft;
        draft.name = "Luis";
        draft.lines = store_->db().orders.front().draft.lines;
        store_->setDraft(draft);
        EXPECT_TRUE(store_->confirm());
        return store_->db().orders.back().number;
    }

    struct Call {
        std::int64_t number;
        bool copy;
        pizzacore::Paper paper;
    };

    std::unique_ptr<TicketService> service_;
    Bytes pdf_ = minimalPdf({{226.77, 310.5}, {226.77, 720}, {226.77, 96}});
    std::optional<std::string> failure_;
    // The application's own ticket layout instead of the fixed document.
    bool realTickets_ = false;
    std::vector<Call> calls_;
};

TEST_F(TicketPrintingTest, FailuresBeforeTheDialogCountNoAttempt) {
    struct Case {
        std::optional<std::string> renderFailure;
        Bytes pdf;
        QString message;
    };
    const std::vector<Case> cases = {
        {"Activa al menos un destinatario en Ajustes → Tickets.",
         {},
         kept + "Activa al menos un destinatario en Ajustes → Tickets."},
        {"No se pudo crear el PDF.", {}, kept + "No se pudo crear el PDF."},
        {std::nullopt, Bytes{'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 'x'},
         kept + "No se pudo abrir el ticket para impresión."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        failure_ = c.renderFailure;
        pdf_ = c.pdf;
        store_->clearMessage();
        service_->printOrder(order());
        EXPECT_EQ(store_->message().value_or(QString()), c.message);
        EXPECT_EQ(order().printAttempts, 0);
        EXPECT_EQ(attemptEntries(store_->db()), 0);
        EXPECT_TRUE(platform_.printDialogs().empty());
    }
}

TEST_F(TicketPrintingTest, ACancelledDialogStillCountsAnAttemptAndTheNextRenderingIsACopy) {
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    print();
    ASSERT_EQ(platform_.printDialogs().size(), 1u);
    // The paper: the first page's width, the tallest page's height.
    EXPECT_EQ(platform_.printDialogs()[0].paperPoints, QSizeF(226.77, 720));
    EXPECT_EQ(platform_.printDialogs()[0].title, "Pedido 27");
    EXPECT_EQ(order().printAttempts, 1);
    ASSERT_EQ(attemptEntries(store_->db()), 1);
    EXPECT_EQ(store_->db().audit.back().reference, "27");
    EXPECT_EQ(store_->message().value_or(QString()), TicketService::notCompleted);
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][0].toBool());

    print();
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_FALSE(calls_[0].copy);
    EXPECT_TRUE(calls_[1].copy);
    EXPECT_EQ(order().printAttempts, 2);
    // The attempt is on disk, not only on screen.
    EXPECT_EQ(pizzacore::Repository(dataFolder(), pizzacore::Repository::Access::readOnly)
                  .load()
                  .orders.front()
                  .printAttempts,
              2);
}

// The attempt is written while the window goes on; a service gone by the time it is published
// (its screen closed) still has the attempt counted and never opens the print dialog.
TEST_F(TicketPrintingTest, AServiceGoneWhileTheAttemptIsWrittenCountsItAndOpensNoDialog) {
    QObject watcher;
    QObject::connect(store_.get(), &AppStore::dbChanged, &watcher, [this] {
        if (order().printAttempts == 1) service_.reset();
    });
    service_->printOrder(order());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service_; }, 30000));
    store_->flush();
    QTest::qWait(50);
    EXPECT_TRUE(platform_.printDialogs().empty());
    EXPECT_EQ(order().printAttempts, 1);
    EXPECT_EQ(attemptEntries(store_->db()), 1);
    EXPECT_EQ(pizzacore::Repository(dataFolder(), false).load().orders.front().printAttempts, 1);
    EXPECT_FALSE(store_->message());
}

TEST_F(TicketPrintingTest, ConfirmingPrintsOnlyWhenTheSettingsSaySoAndNeverWithoutAPrinter) {
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    // No preferred printer and the switch never set: confirming prints nothing.
    confirmAnother();
    QTest::qWait(100);
    EXPECT_TRUE(finished.empty());
    EXPECT_TRUE(calls_.empty());
    EXPECT_FALSE(store_->message());

    // Asked to print on confirming, with no printer anywhere (no print system answers at all):
    // the order stays saved, no dialog opens, nothing counts, and the operator is told where to
    // print it from.
    const pizzacore::testing::ScopedVariable nowhere("CUPS_SERVER", (dataFolder() / "no-cups.sock").string());
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printOnConfirm = true; }));
    confirmAnother();
    ASSERT_TRUE(waitFor(finished));
    EXPECT_FALSE(finished[0][0].toBool());
    EXPECT_EQ(store_->message().value_or(QString()), TicketService::noPrinter);
    EXPECT_TRUE(platform_.printDialogs().empty());
    EXPECT_EQ(store_->db().orders.back().printAttempts, 0);
    EXPECT_EQ(attemptEntries(store_->db()), 0);
    EXPECT_EQ(store_->db().orders.size(), 3u);
}

TEST_F(TicketPrintingTest, PreviewSavesTheSameDocumentAndNeverCounts) {
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.paper = pizzacore::Paper::mm80; }));
    const fs::path file = dataFolder() / "vista.pdf";
    // A file others could read is replaced by one only its owner reads: the ticket names the
    // customer.
    writeFile(file, "antiguo");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    platform_.answerNextSavePanel(file);
    service_->preview(order());
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(platform_.savePanels().size(), 1u);
    EXPECT_EQ(platform_.savePanels()[0].title, "Guardar PDF y abrir vista previa");
    EXPECT_EQ(platform_.savePanels()[0].proposedName, "Pedido-27-80 mm.pdf");
    EXPECT_EQ(platform_.savePanels()[0].kind, velmora::FileKind::pdf);
    EXPECT_EQ(readFile(file), std::string(pdf_.begin(), pdf_.end()));
    EXPECT_EQ(platform_.opened(), std::vector<fs::path>{file});
    EXPECT_EQ(order().printAttempts, 0);
    EXPECT_FALSE(store_->message());

    // A cancelled panel stops silently; a render failure is shown without the prefix; a file that
    // cannot be written says why.
    service_->preview(order());
    EXPECT_FALSE(store_->message());
    failure_ = "No se pudo crear el PDF.";
    service_->preview(order());
    EXPECT_EQ(store_->message().value_or(QString()), "No se pudo crear el PDF.");
    failure_.reset();
    store_->clearMessage();
    platform_.answerNextSavePanel(dataFolder() / "no-existe" / "vista.pdf");
    service_->preview(order());
    EXPECT_TRUE(store_->message().has_value());
    EXPECT_EQ(platform_.opened().size(), 1u);
    EXPECT_EQ(order().printAttempts, 0);
    EXPECT_EQ(TicketService::suggestedName(order(), pizzacore::Paper::a4), "Pedido-27-A4.pdf");
    EXPECT_EQ(TicketService::suggestedName(order(), pizzacore::Paper::mm58), "Pedido-27-58 mm.pdf");
}

TEST(CupsJobText, TextFromTheServerIsShownWithoutControlsAndCut) {
    using velmora::CupsJob::shown;
    // Escape sequences, line breaks, tabs and C1 controls become single spaces.
    EXPECT_EQ(shown("Filter\x1b[2J failed\r\n\tnow"), "Filter [2J failed now");
    EXPECT_EQ(shown("a\xc2\x9b"
                    "31mb\x7f"),
              "a 31mb");
    EXPECT_EQ(shown("  \n"), "");
    // Bytes that are no UTF-8 are replaced, accented letters kept.
    EXPECT_EQ(shown("caf\xe9 Impresi\xc3\xb3n"), "caf\xef\xbf\xbd Impresi\xc3\xb3n");
    // Long text is cut at a character, never inside one.
    EXPECT_EQ(shown(std::string(300, 'x')).size(), 240u);
    EXPECT_EQ(shown("\xc3\xb3\xc3\xb3\xc3\xb3", 5), "\xc3\xb3...");
}

TEST(CupsJobNames, CustomMediaIsWrittenInPointsWithAPoint) {
    EXPECT_EQ(velmora::CupsJob::mediaName(226.77, 720), "Custom.226.77x720");
    EXPECT_EQ(velmora::CupsJob::mediaName(595.28, 841.89), "Custom.595.28x841.89");
    EXPECT_EQ(velmora::CupsJob::mediaName(164.4, 72.004), "Custom.164.4x72");
}

class RealPrintingTest : public TicketPrintingTest {
protected:
    void SetUp() override {
        cups_ = std::make_unique<PrivateCups>();
        if (!cups_->failure().empty()) GTEST_SKIP() << "no private CUPS scheduler: " << cups_->failure();
        TicketPrintingTest::SetUp();
    }
    void TearDown() override {
        TicketPrintingTest::TearDown();
        cups_.reset();
    }

    // What the operator was told and what the scheduler logged, to explain a failure.
    std::string explain() const {
        return "message: " + store_->message().value_or(QString()).toStdString() + "\nlog:\n" + cups_->log();
    }

    std::unique_ptr<PrivateCups> cups_;
};

// The longest stretch the window's event loop went without running while `wait` ran it.
template <class Wait>
std::chrono::milliseconds longestStall(Wait wait) {
    QTimer ticker;
    ticker.setInterval(10);
    auto last = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration longest{};
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start();
    wait();
    return std::chrono::duration_cast<std::chrono::milliseconds>(longest);
}

TEST_F(TicketPrintingTest, ASilentPrintSystemNeverHoldsTheWindowAndStopsBeforeTheDialog) {
    const SilentCups silent;
    ASSERT_EQ(silent.failure(), "");
    makeService(600);
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    const auto start = std::chrono::steady_clock::now();
    service_->printOrder(order());
    // Generous bounds for a busy machine: unbounded, the old wait was a minute or more.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    const auto stall = longestStall([&] { EXPECT_TRUE(waitFor(finished, 1, 10000)); });
    EXPECT_LT(stall, std::chrono::milliseconds(1000));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished[0][0].toBool());
    // The dialog would ask the same silent scheduler for its printers on the window's thread.
    EXPECT_TRUE(platform_.printDialogs().empty());
    EXPECT_EQ(store_->message().value_or(QString()),
              kept + "No se pudo crear el trabajo de impresión. El sistema de impresión (CUPS) no responde.");
    EXPECT_EQ(order().printAttempts, 0);
    EXPECT_EQ(attemptEntries(store_->db()), 0);

    // The printer list gives up as well, and says nothing is installed.
    const auto listed = std::chrono::steady_clock::now();
    const velmora::CupsJob::Destinations found =
        velmora::CupsJob::destinations({std::chrono::milliseconds(600), nullptr});
    EXPECT_LT(std::chrono::steady_clock::now() - listed, std::chrono::seconds(3));
    EXPECT_TRUE(found.silent);
    EXPECT_TRUE(found.names.empty());
}

TEST_F(RealPrintingTest, QuittingWhileCupsDoesNotAnswerWaitsAtMostTwoSeconds) {
    // A job on the paused queue is followed; then the scheduler stops answering in the middle.
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Pausada"; }));
    platform_.confirmNextPrintDialog();
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    print();
    ASSERT_TRUE(waitFor(accepted)) << explain();
    cups_->freeze();
    // A look at the job's state is now waiting on the frozen scheduler.
    QTest::qWait(300);
    const auto start = std::chrono::steady_clock::now();
    service_.reset();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
    EXPECT_FALSE(store_->message()) << "quitting says nothing about the job";
}

TEST_F(RealPrintingTest, AFollowedJobThatDisappearsIsNotCompletedAndSaysWhy) {
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Pausada"; }));
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    QSignalSpy finished(service_.get(), &TicketService::printFinished);

    // Its queue is deleted.
    platform_.confirmNextPrintDialog();
    print();
    ASSERT_TRUE(waitFor(accepted)) << explain();
    ASSERT_TRUE(cups_->remove("Pausada"));
    ASSERT_TRUE(waitFor(finished)) << explain();
    EXPECT_FALSE(finished.back()[0].toBool());
    // CUPS's own words.
    EXPECT_EQ(store_->message().value_or(QString()).toStdString(),
              TicketService::notCompletedBecause(
                  QStringLiteral("Job #%1 does not exist.").arg(accepted[0][0].toInt()))
                  .toStdString());
    EXPECT_EQ(service_->jobsInProgress(), 0);
}

TEST_F(RealPrintingTest, AJobFollowedWhenTheSchedulerStopsIsNotCompleted) {
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Pausada"; }));
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    platform_.confirmNextPrintDialog();
    print();
    ASSERT_TRUE(waitFor(accepted)) << explain();
    cups_->stop();
    ASSERT_TRUE(waitFor(finished)) << explain();
    EXPECT_FALSE(finished[0][0].toBool()) << "a job nobody can tell about is not reported printed";
    EXPECT_EQ(store_->message().value_or(QString()),
              TicketService::notCompletedBecause(
                  QStringLiteral("No se puede conectar con el sistema de impresión (CUPS).")));
    EXPECT_EQ(service_->jobsInProgress(), 0);
}

TEST_F(RealPrintingTest, AnInstancePrintsWithItsOwnOptionsAndAnUnknownOneIsRefused) {
    // The settings' list offers the user's instance, found through lpoptions.
    velmora::PrinterList listed;
    std::thread([&] { listed = velmora::Printers::installed(); }).join();
    EXPECT_TRUE(listed.names.contains("Tickets/copia")) << listed.names.join(", ").toStdString();
    EXPECT_EQ(listed.defaultName, "Tickets");

    // Chosen as the preferred printer, it is proposed and printed with its options.
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Tickets/copia"; }));
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    platform_.confirmNextPrintDialog(2);
    print();
    ASSERT_EQ(platform_.printDialogs().size(), 1u);
    EXPECT_EQ(platform_.printDialogs()[0].printer, "Tickets/copia");
    ASSERT_TRUE(waitFor(finished)) << explain();
    ASSERT_EQ(accepted.size(), 1);
    EXPECT_TRUE(finished[0][0].toBool()) << store_->message().value_or(QString()).toStdString();
    EXPECT_EQ(jobInteger(accepted[0][0].toInt(), "job-priority"), 77);
    EXPECT_EQ(jobInteger(accepted[0][0].toInt(), "copies"), 2) << "the dialog's copies win";
    EXPECT_EQ(readFile(cups_->output("Tickets")), std::string(pdf_.begin(), pdf_.end()));

    // An instance lpoptions does not define is refused, not printed on the plain queue.
    platform_.answerNextPrintDialog(velmora::PrintChoice{QStringLiteral("Tickets/nada"), 1});
    service_->printOrder(order());
    ASSERT_TRUE(waitFor(finished, 2));
    EXPECT_FALSE(finished.back()[0].toBool());
    EXPECT_EQ(accepted.size(), 1);
    EXPECT_EQ(store_->message().value_or(QString()),
              TicketService::notCompletedBecause(QStringLiteral("CUPS no tiene la impresora Tickets/nada.")));
}

TEST_F(RealPrintingTest, TheQueueReceivesTheRenderedPdfWithItsCopiesAndPaper) {
    // Three tickets on 80 mm roll paper, each page as tall as its content. The preferred printer
    // names a queue that no longer exists: the system's default is proposed.
    realTickets_ = true;
    ASSERT_TRUE(store_->transact([](Database& db) {
        db.settings.printer = "Desaparecida";
        db.settings.paper = pizzacore::Paper::mm80;
        db.settings.bar = true;
    }));
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    platform_.confirmNextPrintDialog(2);
    print();
    ASSERT_EQ(platform_.printDialogs().size(), 1u);
    EXPECT_EQ(platform_.printDialogs()[0].printer, "Tickets");
    const auto rendered = velmora::pdfPageSizes(pdf_);
    ASSERT_TRUE(rendered);
    ASSERT_EQ(rendered->size(), 3u);
    double tallest = 0;
    for (const velmora::PageSize& page : *rendered)
        tallest = std::max(tallest, page.height);
    EXPECT_LT(tallest, 720) << "roll paper pages are cut to their content";
    EXPECT_EQ(platform_.printDialogs()[0].paperPoints, QSizeF((*rendered)[0].width, tallest));
    EXPECT_EQ(order().printAttempts, 1);
    EXPECT_EQ(attemptEntries(store_->db()), 1);
    EXPECT_EQ(service_->jobsInProgress(), 1);

    ASSERT_TRUE(waitFor(finished)) << explain();
    ASSERT_EQ(accepted.size(), 1);
    EXPECT_TRUE(finished[0][0].toBool());
    EXPECT_FALSE(store_->message()) << store_->message()->toStdString();
    EXPECT_EQ(service_->jobsInProgress(), 0);
    EXPECT_EQ(jobInteger(accepted[0][0].toInt(), "copies"), 2);

    const std::string printed = readFile(cups_->output("Tickets"));
    EXPECT_EQ(printed, std::string(pdf_.begin(), pdf_.end()));
    const auto pages = velmora::pdfPageSizes(Bytes(printed.begin(), printed.end()));
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 3u);
    EXPECT_NEAR((*pages)[0].width, 226.77, 0.01);
    for (std::size_t i = 0; i < pages->size(); ++i)
        EXPECT_NEAR((*pages)[i].height, (*rendered)[i].height, 0.01);
}

TEST_F(RealPrintingTest, APausedQueueKeepsTheJobWaitingUntilItIsCancelled) {
    // The preferred printer, which exists, is proposed.
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Pausada"; }));
    platform_.confirmNextPrintDialog();
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    print();
    ASSERT_EQ(platform_.printDialogs().size(), 1u);
    EXPECT_EQ(platform_.printDialogs()[0].printer, "Pausada");
    // A paused queue keeps the job waiting: no failure, and the window goes on working.
    ASSERT_TRUE(waitFor(accepted)) << explain();
    QTest::qWait(600);
    EXPECT_FALSE(store_->message());
    EXPECT_EQ(service_->jobsInProgress(), 1);
    EXPECT_EQ(velmora::CupsJob::status(accepted[0][0].toInt()).state, velmora::CupsJob::State::waiting);

    // Someone cancels it in the queue: the operator hears of it when CUPS says so.
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    cupsSetServer(nullptr);
    ASSERT_EQ(cupsCancelJob2(CUPS_HTTP_DEFAULT, "Pausada", accepted[0][0].toInt(), 0), IPP_STATUS_OK)
        << cupsLastErrorString();
    ASSERT_TRUE(waitFor(finished)) << explain();
    EXPECT_FALSE(finished[0][0].toBool());
    EXPECT_EQ(store_->message().value_or(QString()).toStdString(),
              TicketService::notCompletedBecause(QStringLiteral("cancelado en CUPS")).toStdString());
    EXPECT_EQ(service_->jobsInProgress(), 0);
}

TEST_F(RealPrintingTest, RefusedAndFailedJobsAreReportedWhenCupsSaysSo) {
    // Refused when submitted: the dialog named a queue the server does not have.
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    platform_.answerNextPrintDialog(velmora::PrintChoice{QStringLiteral("Inexistente"), 1});
    service_->printOrder(order());
    ASSERT_TRUE(waitFor(finished)) << explain();
    EXPECT_FALSE(finished[0][0].toBool());
    EXPECT_EQ(store_->message().value_or(QString()).toStdString(),
              TicketService::notCompletedBecause(QStringLiteral("The printer or class does not exist."))
                  .toStdString());
    EXPECT_EQ(order().printAttempts, 1);

    // Accepted, then stopped by a failing filter: it will not print.
    store_->clearMessage();
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    platform_.answerNextPrintDialog(velmora::PrintChoice{QStringLiteral("Rota"), 1});
    service_->printOrder(order());
    ASSERT_TRUE(waitFor(accepted)) << explain();
    EXPECT_FALSE(store_->message()) << "nothing is said before CUPS reports the end";
    ASSERT_TRUE(waitFor(finished, 2)) << explain();
    EXPECT_FALSE(finished.back()[0].toBool());
    EXPECT_EQ(store_->message().value_or(QString()).toStdString(),
              TicketService::notCompletedBecause(QStringLiteral("Filter failed")).toStdString());
    EXPECT_EQ(velmora::CupsJob::status(accepted[0][0].toInt()).state, velmora::CupsJob::State::stopped);
    EXPECT_EQ(order().printAttempts, 2);
    EXPECT_FALSE(fs::exists(cups_->output("Rota")) && !readFile(cups_->output("Rota")).empty());
}

TEST_F(RealPrintingTest, AConfirmedOrderGoesStraightToThePreferredPrinterAsOneAttempt) {
    realTickets_ = true;
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Tickets"; }));
    ASSERT_TRUE(store_->db().settings.printsOnConfirm()) << "a preferred printer turns it on";
    QSignalSpy accepted(service_.get(), &TicketService::jobAccepted);
    QSignalSpy finished(service_.get(), &TicketService::printFinished);
    const std::int64_t number = confirmAnother();
    ASSERT_TRUE(waitFor(finished)) << explain();
    EXPECT_TRUE(finished[0][0].toBool()) << explain();
    EXPECT_TRUE(platform_.printDialogs().empty()) << "no dialog on confirming";
    ASSERT_EQ(accepted.size(), 1);
    EXPECT_EQ(jobInteger(accepted[0][0].toInt(), "copies"), 1);
    const Order& printed = store_->db().orders.back();
    EXPECT_EQ(printed.number, number);
    EXPECT_EQ(printed.printAttempts, 1);
    ASSERT_EQ(attemptEntries(store_->db()), 1);
    EXPECT_EQ(store_->db().audit.back().reference, std::to_string(number));
    EXPECT_EQ(pizzacore::Repository(dataFolder(), false).load().orders.back().printAttempts, 1);
    ASSERT_FALSE(calls_.empty());
    EXPECT_FALSE(calls_.back().copy) << "the first print of an order is no copy";
    EXPECT_EQ(readFile(cups_->output("Tickets")), std::string(pdf_.begin(), pdf_.end()));
    EXPECT_FALSE(store_->message());

    // Switched off, a preferred printer prints only through "Imprimir…".
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printOnConfirm = false; }));
    confirmAnother();
    QTest::qWait(200);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(store_->db().orders.back().printAttempts, 0);
}

} // namespace
