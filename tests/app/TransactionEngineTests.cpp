// The controller's transaction engine on real data directories: the asynchronous transaction
// returns at once and calls back once its change is saved and published, only while the object
// that bounds it lives; failures come back without changing anything.

#include <Velmora/Stores/AppStore.hpp>
#include <support/TestFiles.hpp>

#include "TestPlatformServices.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Repository;
using pizzacore::testing::TemporaryDirectory;
using velmora::AppStore;
using velmora::Outcome;
using velmora::testing::TestPlatformServices;

// 2025-03-07 12:00 UTC, a Friday afternoon.
constexpr Instant friday = Instant::fromUnix(1741348800.0);

// Handles events until `done` holds, for at most five seconds.
bool spinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = std::make_unique<AppStore>(directory_.path(), Clock::manual(now_), platform_);
        store_->start();
        ASSERT_FALSE(store_->fatal());
    }
    AppStore& store() { return *store_; }
    Database stored() const { return Repository(directory_.path(), false).load(); }

    AppStore::Change record(const std::string& action) {
        return [action, now = *now_](Database& db) { db.record(action, "", now); };
    }

    TemporaryDirectory directory_;
    std::shared_ptr<Instant> now_ = std::make_shared<Instant>(friday);
    TestPlatformServices platform_;
    std::unique_ptr<AppStore> store_;
};

TEST_F(Engine, AnAsynchronousTransactionReturnsAtOnceAndCallsBackOnceSavedAndPublished) {
    const std::size_t before = store().db().audit.size();
    QObject context;
    std::vector<std::string> calls;
    std::optional<Database> seenAtCall;
    store().transact(record("Primera"), &context, [&](const Outcome& outcome) {
        EXPECT_TRUE(outcome) << outcome.failure.toStdString();
        calls.push_back("Primera");
        // Published before the call, and durable: another reader of the folder sees it.
        seenAtCall = stored();
        EXPECT_EQ(store().db().audit.size(), before + 1);
    });
    store().transact(record("Segunda"), &context, [&](const Outcome& outcome) {
        EXPECT_TRUE(outcome);
        calls.push_back("Segunda");
    });
    // Nothing has been written or published yet: the call did not wait.
    EXPECT_EQ(store().db().audit.size(), before);
    EXPECT_TRUE(calls.empty());

    ASSERT_TRUE(spinUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls, (std::vector<std::string>{"Primera", "Segunda"}));
    ASSERT_TRUE(seenAtCall);
    EXPECT_EQ(seenAtCall->audit.back().action, "Primera");
    EXPECT_EQ(store().db().audit.back().action, "Segunda");
    EXPECT_EQ(stored(), store().db());
}

TEST_F(Engine, AClosedContextIsNeverCalledBackButItsChangeIsKept) {
    auto context = std::make_unique<QObject>();
    bool called = false;
    store().transact(record("Sin pantalla"), context.get(), [&](const Outcome&) { called = true; });
    context.reset();
    store().flush();
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_EQ(store().db().audit.back().action, "Sin pantalla");
    EXPECT_EQ(stored(), store().db());
}

TEST_F(Engine, AFailedAsynchronousChangeChangesNothingAndSaysWhy) {
    const Database before = store().db();
    QObject context;
    std::optional<Outcome> result;
    store().transact(
        [](Database& db) {
            db.record("A medias", "", Instant::fromUnix(0));
            throw pizzacore::PCError::invalid("Pedido no válido.");
        },
        &context, [&](const Outcome& outcome) { result = outcome; });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok);
    EXPECT_EQ(result->failure, QStringLiteral("Pedido no válido."));
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(stored(), before);
    // The failure is the caller's to report.
    EXPECT_FALSE(store().message());
}

TEST_F(Engine, ABlockingTransactionWaitsBehindAnAsynchronousOne) {
    QObject context;
    bool called = false;
    store().transact(record("Antes"), &context, [&](const Outcome&) { called = true; });
    ASSERT_TRUE(store().transact(record("Después")));
    EXPECT_TRUE(called);
    const auto& audit = store().db().audit;
    ASSERT_GE(audit.size(), 2u);
    EXPECT_EQ(audit[audit.size() - 2].action, "Antes");
    EXPECT_EQ(audit.back().action, "Después");
}

TEST(EngineFatal, AnAsynchronousTransactionFailsFromTheEventLoop) {
    TemporaryDirectory directory;
    pizzacore::testing::writeFile(directory.path() / "Velmora.json", "{ no es un documento");
    TestPlatformServices platform;
    AppStore store(directory.path(), Clock::fixed(friday), platform);
    store.start();
    ASSERT_TRUE(store.fatal());
    QObject context;
    std::optional<Outcome> result;
    store.transact([](Database&) {}, &context, [&](const Outcome& outcome) { result = outcome; });
    EXPECT_FALSE(result);
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_FALSE(result->ok);
    EXPECT_EQ(result->failure, QStringLiteral("El almacenamiento no está disponible."));
}

} // namespace
