// The controller's saving in the background on real data directories: the window keeps handling
// events while a change is written, transactions started meanwhile wait their turn, edits made
// during a confirmation go to the next draft, the draft autosave writes the latest draft soon
// and once, closing the controller keeps what was typed, and the recent-orders index follows the
// orders as they come.

#include <Velmora/Stores/AppStore.hpp>
#include <support/TestFiles.hpp>

#include "ScreenTesting.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Database;
using pizzacore::Draft;
using pizzacore::Instant;
using pizzacore::Repository;
using pizzacore::testing::TemporaryDirectory;
using velmora::AppStore;
using velmora::testing::TestPlatformServices;

using velmora::testing::friday;

// Waits on the writer's thread until the user-interface thread has done its part, for at most
// five seconds: a frozen user-interface thread shows as a change that gave up waiting.
bool awaitOtherThread(const std::atomic<bool>& flag) {
    for (int round = 0; round < 500 && !flag; ++round)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return flag;
}

// A controller opened on an empty data folder, as at the first start.
class Saving : public velmora::testing::ScreenTest {
protected:
    Saving() { start_ = Start::emptyFolder; }

    pizzacore::Product addProduct(const std::string& name, pizzacore::Cents cents) {
        pizzacore::Product product;
        product.name = name;
        product.cents = cents;
        EXPECT_TRUE(store().transact([&](Database& db) { db.saveProduct(product, *now_); }));
        return product;
    }

    // Confirms an order for `phone` at the given instant.
    void confirmFor(const std::string& phone, const pizzacore::Product& product, double minutes) {
        Draft draft = store().draft();
        draft.phone = phone;
        draft.lines = {pizzacore::Line::make(product)};
        store().setDraft(draft);
        *now_ = Instant{friday.seconds + minutes * 60};
        ASSERT_TRUE(store().confirm()) << store().message().value_or("").toStdString();
    }
};

TEST_F(Saving, EventsKeepBeingHandledWhileAChangeIsWrittenAndEditsGoToTheNextDraft) {
    const pizzacore::Product product = addProduct("Margarita", 950);
    Draft taken = store().draft();
    taken.phone = "612 345 678";
    taken.lines = {pizzacore::Line::make(product)};
    store().setDraft(taken);

    // While the confirmation is written, the operator types the next caller's number.
    std::atomic<bool> typed = false;
    bool sawSaving = false;
    QTimer::singleShot(0, &store(), [&] {
        sawSaving = store().saving();
        Draft next = store().draft();
        next.phone = "699 000 111";
        store().setDraft(next);
        typed = true;
    });
    std::optional<pizzacore::Order> order;
    const velmora::Outcome outcome = store().transact([&](Database& db) {
        EXPECT_TRUE(awaitOtherThread(typed)) << "the user-interface thread was blocked";
        order = db.confirm(taken, *now_);
    });
    ASSERT_TRUE(outcome) << outcome.failure.toStdString();
    EXPECT_TRUE(sawSaving);
    ASSERT_TRUE(order);
    EXPECT_EQ(order->draft.phone, "612 345 678");
    // The fresh draft the confirmation left, with the number typed meanwhile.
    EXPECT_NE(store().draft().id, taken.id);
    EXPECT_TRUE(store().draft().lines.empty());
    EXPECT_EQ(store().draft().phone, "699 000 111");
    EXPECT_EQ(store().db().orders.size(), 1u);
    // What was typed meanwhile is saved after the confirmation, without being asked.
    store().flush();
    EXPECT_EQ(reloaded().draft, store().draft());
    EXPECT_FALSE(store().saving());

    // A change that leaves the draft alone keeps what was typed during it, and the autosave
    // stores it afterwards.
    std::atomic<bool> edited = false;
    QTimer::singleShot(0, &store(), [&] {
        Draft next = store().draft();
        next.name = "Lucía";
        store().setDraft(next);
        store().saveDraftSoon();
        edited = true;
    });
    ASSERT_TRUE(store().transact([&](Database& db) {
        EXPECT_TRUE(awaitOtherThread(edited));
        db.record("Prueba", "", *now_);
    }));
    EXPECT_EQ(store().draft().name, "Lucía");
    EXPECT_EQ(store().draft().phone, "699 000 111");
    store().flush();
    EXPECT_EQ(reloaded().draft, store().draft());
    EXPECT_EQ(reloaded(), store().db());
}

TEST_F(Saving, ATransactionStartedWhileAnotherIsWrittenWaitsItsTurn) {
    std::atomic<bool> secondAsked = false;
    std::vector<std::string> finished;
    QTimer::singleShot(0, &store(), [&] {
        secondAsked = true;
        // Runs inside the first transaction's wait and waits for it in turn.
        const velmora::Outcome second = store().transact([&](Database& db) {
            EXPECT_EQ(db.audit.back().action, "Primero") << "the second change sees the first one's result";
            db.record("Segundo", "", *now_);
        });
        EXPECT_TRUE(second);
        finished.push_back("segundo");
    });
    const velmora::Outcome first = store().transact([&](Database& db) {
        EXPECT_TRUE(awaitOtherThread(secondAsked));
        db.record("Primero", "", *now_);
    });
    EXPECT_TRUE(first);
    finished.push_back("primero");
    // The nested wait ended first; both changes are saved, in the order they were asked for.
    EXPECT_EQ(finished, (std::vector<std::string>{"segundo", "primero"}));
    const Database saved = reloaded();
    ASSERT_GE(saved.audit.size(), 2u);
    EXPECT_EQ(saved.audit[saved.audit.size() - 2].action, "Primero");
    EXPECT_EQ(saved.audit.back().action, "Segundo");
    EXPECT_EQ(saved, store().db());
}

TEST_F(Saving, TheDraftAutosaveWritesTheLatestDraftWithinASecond) {
    Draft draft = store().draft();
    QElapsedTimer clock;
    for (int key = 0; key < 40; ++key) {
        draft.phone += static_cast<char>('0' + key % 10);
        store().setDraft(draft);
        store().saveDraftSoon();
        if (key % 8 == 0) QCoreApplication::processEvents();
    }
    clock.start();
    while (reloaded().draft != draft && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(reloaded().draft, draft);
    EXPECT_LT(clock.elapsed(), 1000) << "on disk within a second of the last keystroke";
    store().flush(); // the file can be written before the window hears of it
    EXPECT_EQ(store().db().draft, draft);
    EXPECT_FALSE(store().message());
}

TEST_F(Saving, ClosingTheControllerKeepsTheDraftTypedJustBefore) {
    Draft draft = store().draft();
    draft.name = "Jordi";
    draft.notes = "Timbre 2B";
    store().setDraft(draft);
    store().saveDraftSoon();
    store_.reset(); // before the autosave's timer has fired
    EXPECT_EQ(reloaded().draft, draft);
}

TEST_F(Saving, AFailedAutosaveKeepsTheDraftAndSaysWhy) {
    pizzacore::testing::writeFile(dataFolder() / "Velmora.json", "dañado");
    Draft draft = store().draft();
    draft.notes = "Sin cebolla";
    store().setDraft(draft);
    store().saveDraftSoon();
    store().flush();
    ASSERT_TRUE(store().message());
    EXPECT_FALSE(store().message()->isEmpty());
    EXPECT_EQ(store().draft(), draft);
    EXPECT_NE(store().db().draft, draft);
    EXPECT_EQ(pizzacore::testing::readFile(dataFolder() / "Velmora.json"), "dañado");
}

TEST_F(Saving, RecentOrdersFollowTheOrdersAsTheyAreAddedAndReplaced) {
    const pizzacore::Product product = addProduct("Barbacoa", 1200);
    confirmFor("612 345 678", product, 1);
    confirmFor("+34 699 111 222", product, 2);
    confirmFor("612345678", product, 3);
    confirmFor("0034 612 34 56 78", product, 4);
    confirmFor("", product, 5);
    confirmFor("612 34 56 78", product, 6);

    auto numbers = [&](std::string_view phone) {
        std::vector<std::int64_t> found;
        for (const pizzacore::Order& order : store().recentOrders(phone))
            found.push_back(order.number);
        return found;
    };
    EXPECT_EQ(numbers("+34612345678"), (std::vector<std::int64_t>{3, 4, 6})) << "last three, oldest first";
    EXPECT_EQ(numbers("699111222"), (std::vector<std::int64_t>{2}));
    EXPECT_TRUE(numbers("").empty());
    EXPECT_TRUE(numbers("sin número").empty());
    EXPECT_TRUE(numbers("600 000 000").empty());

    // A document put in place whole (as a restore does) is indexed afresh.
    Database replaced = store().db();
    replaced.orders.erase(replaced.orders.begin() + 2, replaced.orders.end());
    ASSERT_TRUE(store().useRepository([&](Repository& repository, const Database&) {
        repository.save(replaced);
        return std::optional<Database>(replaced);
    }));
    EXPECT_EQ(numbers("612345678"), (std::vector<std::int64_t>{1}));
    confirmFor("612-345-678", product, 7);
    EXPECT_EQ(numbers("612345678"), (std::vector<std::int64_t>{1, 7}));
}

TEST(SavingFatal, AutosaveAndFlushDoNothing) {
    TemporaryDirectory directory;
    pizzacore::testing::writeFile(directory.path() / "Velmora.json", "no es un documento");
    TestPlatformServices platform;
    AppStore store(directory.path(), Clock::fixed(friday), platform);
    store.start();
    ASSERT_TRUE(store.fatal());
    Draft draft = store.draft();
    draft.phone = "612 345 678";
    store.setDraft(draft);
    store.saveDraftSoon();
    store.flush();
    EXPECT_FALSE(store.saving());
    EXPECT_EQ(pizzacore::testing::readFile(directory.path() / "Velmora.json"), "no es un documento");
}

} // namespace
