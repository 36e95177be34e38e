// The cash drawer: the pulse that the order detail's button and a cash payment send as a raw job
// to a CUPS scheduler of the test's own, whose queues write what they receive to a file; the
// audit entry of each pulse sent, and what the operator reads when none could be.

#include <Velmora/Services/TicketService.hpp>
#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Views/Orders/OrderDetail.hpp>
#include <Velmora/Views/Orders/OrdersView.hpp>
#include <support/ScopedVariable.hpp>
#include <support/TestFiles.hpp>

#include "PrivateCups.hpp"
#include "ScreenTesting.hpp"
#include "TestPdf.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pizzacore::Database;
using pizzacore::Order;
using pizzacore::PaymentMethod;
using velmora::OrdersView;
using velmora::TicketService;
using velmora::testing::PrivateCups;
using namespace velmora::testing;

// ESC p 0 25 250, and nothing else.
const std::string pulse("\x1B\x70\x00\x19\xFA", 5);

const std::string unreachable =
    "No se pudo abrir el cajón: No se puede conectar con el sistema de impresión (CUPS).";

// The drawer openings the trail holds, as their references.
std::vector<std::string> openings(const Database& db) {
    std::vector<std::string> references;
    for (const pizzacore::Audit& entry : db.audit)
        if (entry.action == "Apertura de cajón") references.push_back(entry.reference);
    return references;
}

// Lets the window run until `done` holds; false when it does not after `milliseconds`.
template <class Done>
bool waitUntil(Done done, int milliseconds = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        QTest::qWait(10);
    return done();
}

// The orders screen over a controller holding two unpaid orders, numbered 1 and 2, and its
// ticket service talking to a private CUPS scheduler.
class CashDrawerTest : public ScreenTest {
protected:
    CashDrawerTest() { start_ = Start::firstStart; }

    void prepare(Database& db) override {
        addSample(db);
        order(db, margarita_, std::nullopt, "600 111 222", std::nullopt);
        order(db, cola_, std::nullopt, "600 333 444", std::nullopt);
    }

    void SetUp() override {
        cups_ = std::make_unique<PrivateCups>();
        if (!cups_->failure().empty()) GTEST_SKIP() << "no private CUPS scheduler: " << cups_->failure();
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        tickets_ = std::make_unique<TicketService>(
            *store_,
            [](const Order&, const pizzacore::Settings&, const std::optional<pizzacore::Payment>&, bool) {
                return minimalPdf({{226.77, 300}});
            },
            nullptr, 50);
        view_ = std::make_unique<OrdersView>(*store_, *tickets_);
        view_->resize(1090, 800);
        view_->show();
    }

    void TearDown() override {
        view_.reset();
        tickets_.reset();
        store_.reset();
        cups_.reset();
    }

    template <class W>
    W& child(const char* name) const {
        return ScreenTest::child<W>(*view_, name);
    }

    const Order& stored(std::int64_t number) const {
        for (const Order& order : store_->db().orders)
            if (order.number == number) return order;
        throw std::runtime_error("no such order");
    }

    void select(std::int64_t number) {
        store_->setSelectedOrder(stored(number).id);
        settle();
        ASSERT_TRUE(view_->detail().order());
        ASSERT_EQ(view_->detail().order()->number, number);
    }

    // Pays the selected order from its detail, in cash or by card, as the operator does.
    void pay(PaymentMethod method) {
        child<QPushButton>(method == PaymentMethod::cash ? "method0" : "method1").click();
        child<QPushButton>("payButton").click();
        settle();
    }

    // What the queue's device wrote once it wrote anything, or empty after a generous wait.
    std::string written(const std::string& queue) const {
        const fs::path file = cups_->output(queue);
        waitUntil([&] { return fs::exists(file) && fs::file_size(file) > 0; });
        return fs::exists(file) ? pizzacore::testing::readFile(file) : std::string();
    }

    std::string message() const { return store_->message().value_or(QString()).toStdString(); }

    // What the operator was told and what the scheduler logged, to explain a failure.
    std::string explain() const { return "message: " + message() + "\nlog:\n" + cups_->log(); }

    std::unique_ptr<PrivateCups> cups_;
    std::unique_ptr<TicketService> tickets_;
    std::unique_ptr<OrdersView> view_;
};

TEST_F(CashDrawerTest, TheButtonSendsExactlyThePulseToTheDefaultQueueAndRecordsIt) {
    // No preferred printer: the user's default, which libcups reads when the pulse goes.
    const pizzacore::testing::ScopedVariable lpdest("LPDEST", "Cajon");
    select(2);
    auto& button = child<QPushButton>("openDrawer");
    EXPECT_EQ(button.text(), "Abrir cajón");
    EXPECT_EQ(button.accessibleName(), "Abrir cajón");
    ASSERT_TRUE(button.isVisible()) << "an unpaid order offers it";
    QSignalSpy finished(tickets_.get(), &TicketService::drawerFinished);

    button.click();
    // One pulse at a time, and the window never waits for CUPS.
    EXPECT_FALSE(button.isEnabled());
    EXPECT_EQ(tickets_->drawersInProgress(), 1);
    ASSERT_TRUE(waitUntil([&] { return !finished.empty(); })) << explain();
    EXPECT_TRUE(finished[0][0].toBool()) << explain();
    EXPECT_TRUE(button.isEnabled());
    EXPECT_FALSE(store_->message()) << message();

    // The printer gets the five bytes untouched.
    EXPECT_EQ(written("Cajon"), pulse) << explain();
    EXPECT_FALSE(fs::exists(cups_->output("Tickets"))) << "only the default printer";
    EXPECT_EQ(openings(store_->db()), std::vector<std::string>{"2"});
    EXPECT_EQ(store_->db().audit.back().date, friday) << "the controller's clock";
    // The order itself is left as it was.
    EXPECT_FALSE(store_->db().paymentFor(stored(2)));
    EXPECT_EQ(stored(2).printAttempts, 0);
    store_->flush();
    EXPECT_EQ(openings(reloaded()), std::vector<std::string>{"2"}) << "the entry is on the disk";
}

TEST_F(CashDrawerTest, ThePreferredRawQueueGetsThePulseOnAPaidOrderToo) {
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Cajon"; }));
    ASSERT_TRUE(store_->payOrder(stored(1).id, PaymentMethod::card, QString()));
    select(1);
    auto& button = child<QPushButton>("openDrawer");
    ASSERT_TRUE(button.isVisible()) << "a paid order offers it as well";
    QSignalSpy finished(tickets_.get(), &TicketService::drawerFinished);
    button.click();
    ASSERT_TRUE(waitUntil([&] { return !finished.empty(); })) << explain();
    EXPECT_TRUE(finished[0][0].toBool()) << explain();
    EXPECT_EQ(written("Cajon"), pulse) << explain();
    EXPECT_FALSE(fs::exists(cups_->output("Tickets"))) << "not the system's default";
    EXPECT_EQ(openings(store_->db()), std::vector<std::string>{"1"});
}

TEST_F(CashDrawerTest, APaymentOpensTheDrawerOnlyInCashAndWhenSwitchedOn) {
    QSignalSpy finished(tickets_.get(), &TicketService::drawerFinished);

    // Switched off (never set): a cash payment sends nothing.
    ASSERT_FALSE(store_->db().settings.openDrawerOnCash.has_value());
    select(1);
    pay(PaymentMethod::cash);
    ASSERT_TRUE(store_->db().paymentFor(stored(1))) << message();
    EXPECT_EQ(tickets_->drawersInProgress(), 0);

    // Switched on: a card payment sends nothing either.
    ASSERT_TRUE(store_->transact([](Database& db) {
        db.settings.openDrawerOnCash = true;
        db.settings.printer = "Cajon";
    }));
    select(2);
    pay(PaymentMethod::card);
    ASSERT_TRUE(store_->db().paymentFor(stored(2))) << message();
    EXPECT_EQ(tickets_->drawersInProgress(), 0);
    // Paying an order already paid registers nothing new and opens nothing.
    EXPECT_TRUE(store_->payOrder(stored(1).id, PaymentMethod::cash, QString()));
    EXPECT_EQ(tickets_->drawersInProgress(), 0);
    EXPECT_TRUE(openings(store_->db()).empty());
    EXPECT_TRUE(finished.empty());

    // A new cash order, paid with a note: the pulse follows the saved payment.
    ASSERT_TRUE(store_->transact(
        [this](Database& db) { order(db, margarita_, std::nullopt, "600 555 666", std::nullopt, friday); }));
    select(3);
    child<QLineEdit>("received").setText(QStringLiteral("20"));
    pay(PaymentMethod::cash);
    ASSERT_TRUE(store_->db().paymentFor(stored(3))) << message();
    EXPECT_EQ(tickets_->drawersInProgress(), 1);
    ASSERT_TRUE(waitUntil([&] { return !finished.empty(); })) << explain();
    EXPECT_TRUE(finished[0][0].toBool()) << explain();
    EXPECT_EQ(written("Cajon"), pulse) << explain();
    EXPECT_EQ(openings(store_->db()), std::vector<std::string>{"3"});
    // The payment's entry comes first: the drawer opens on a payment already durable.
    const auto& audit = store_->db().audit;
    ASSERT_GE(audit.size(), 2u);
    EXPECT_EQ(audit[audit.size() - 2].action, "Cobro Efectivo");
    EXPECT_EQ(audit.back().action, "Apertura de cajón");
}

TEST_F(CashDrawerTest, AFailedPulseIsToldAndNeverRecordedNorBlocksThePayment) {
    QSignalSpy finished(tickets_.get(), &TicketService::drawerFinished);
    const auto press = [&] {
        const qsizetype before = finished.size();
        child<QPushButton>("openDrawer").click();
        EXPECT_TRUE(waitUntil([&] { return finished.size() > before; })) << explain();
        EXPECT_FALSE(finished.back()[0].toBool());
        EXPECT_TRUE(child<QPushButton>("openDrawer").isEnabled()) << "it can be tried again";
    };
    select(1);

    // A queue that refuses jobs: CUPS's own reason.
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Cerrada"; }));
    press();
    EXPECT_EQ(message().rfind("No se pudo abrir el cajón: ", 0), 0u) << message();
    EXPECT_GT(message().size(), std::string("No se pudo abrir el cajón: ").size());
    store_->clearMessage();

    // No printer to send it to: the preferred one is gone and the system has no default.
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.printer = "Desaparecida"; }));
    ASSERT_TRUE(cups_->remove("Tickets"));
    press();
    EXPECT_EQ(message(), "No se pudo abrir el cajón: no hay ninguna impresora disponible.");
    store_->clearMessage();

    // The print system stopped: a cash payment is still registered and saved, and only the
    // drawer is reported.
    cups_->stop();
    ASSERT_TRUE(store_->transact([](Database& db) { db.settings.openDrawerOnCash = true; }));
    pay(PaymentMethod::cash);
    ASSERT_TRUE(store_->db().paymentFor(stored(1))) << message();
    EXPECT_TRUE(waitUntil([&] { return finished.size() == 3; }));
    EXPECT_FALSE(finished.back()[0].toBool());
    EXPECT_EQ(message(), unreachable);
    store_->flush();
    EXPECT_TRUE(reloaded().paymentFor(stored(1))) << "the payment is on the disk";
    store_->clearMessage();
    press();
    EXPECT_EQ(message(), unreachable);

    EXPECT_TRUE(openings(store_->db()).empty());
    EXPECT_TRUE(openings(reloaded()).empty());
}

} // namespace
