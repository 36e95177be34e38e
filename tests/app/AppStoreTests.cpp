// The controller on real data directories in temporary folders: start-up, the single-instance
// lock against another process, damaged documents, the one path of change and the clock tick.

#include <Velmora/Stores/AppStore.hpp>
#include <support/ScopedVariable.hpp>
#include <support/TestFiles.hpp>

#include "ScreenTesting.hpp"
#include "TestPlatformServices.hpp"

#include <PizzaCore/PizzaCore.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Database;
using pizzacore::Draft;
using pizzacore::Instant;
using pizzacore::PCError;
using pizzacore::Repository;
using pizzacore::testing::readFile;
using pizzacore::testing::ScopedVariable;
using pizzacore::testing::snapshot;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using velmora::AppStore;
using velmora::testing::TestPlatformServices;

const QString unavailable = QStringLiteral("El almacenamiento no está disponible.");
const QString instanceMessage =
    QStringLiteral("Velmora ya está abierto con estos datos. Usa una sola instancia.");

using velmora::testing::friday;
QString fatalText(const QString& description, const fs::path& folder) {
    return QStringLiteral("No se han abierto los datos. ") + description +
           QStringLiteral("\nNo se creará una base vacía encima del archivo existente. Carpeta: ") +
           QString::fromStdString(folder.string());
}

// A controller running in another process, killed when this goes out of scope.
class OtherInstance {
public:
    // Starts the holder with this process's environment and waits for its first line.
    OtherInstance() {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        const char* argv[] = {VELMORA_APP_STORE_HOLDER, nullptr};
        const int spawned = ::posix_spawn(&pid_, VELMORA_APP_STORE_HOLDER, &actions, nullptr,
                                          const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        if (spawned != 0) {
            ::close(pipeEnds[0]);
            pid_ = -1;
            return;
        }
        char buffer[16] = {};
        const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
        ::close(pipeEnds[0]);
        if (got > 0) firstLine_.assign(buffer, std::size_t(got));
    }
    ~OtherInstance() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    OtherInstance(const OtherInstance&) = delete;
    OtherInstance& operator=(const OtherInstance&) = delete;

    const std::string& firstLine() const { return firstLine_; }

private:
    pid_t pid_ = -1;
    std::string firstLine_;
};

// Counts the change signals of a controller.
struct Signals {
    explicit Signals(AppStore& store) {
        QObject::connect(&store, &AppStore::dbChanged, [this] { ++db; });
        QObject::connect(&store, &AppStore::draftChanged, [this] { ++draft; });
        QObject::connect(&store, &AppStore::messageChanged, [this] { ++message; });
        QObject::connect(&store, &AppStore::fatalChanged, [this] { ++fatal; });
    }
    int db = 0;
    int draft = 0;
    int message = 0;
    int fatal = 0;
};

// Tries every kind of change on a controller that must not change anything.
void tryEveryChange(AppStore& store) {
    Draft draft = store.draft();
    draft.notes = "Sin cebolla";
    store.setDraft(draft);
    const velmora::Outcome outcome = store.transact([](Database& db) { db.record("Prueba", "", friday); });
    EXPECT_FALSE(outcome);
    EXPECT_EQ(outcome.failure, unavailable);
    EXPECT_FALSE(store.saveDraft());
    EXPECT_EQ(store.message(), unavailable);
    store.clearMessage();
    store.tick();
    EXPECT_FALSE(store.message()) << "the tick does nothing at all";
}

TEST(AppStoreStart, FirstStartOnAnEmptyDirectoryCreatesTheDocumentWithOneOpenSession) {
    TemporaryDirectory temporary;
    const fs::path directory = temporary.path() / "datos" / "Velmora";
    TestPlatformServices platform;
    AppStore store(directory, Clock::fixed(friday), platform);
    EXPECT_EQ(store.selectedTab(), "Caja");
    Signals heard(store);
    store.start();

    ASSERT_FALSE(store.fatal()) << store.fatal()->toStdString();
    EXPECT_EQ(store.location(), directory);
    EXPECT_EQ(store.selectedTab(), "Caja");
    EXPECT_FALSE(store.message());
    EXPECT_FALSE(store.selectedOrder());
    EXPECT_GE(heard.db, 1);
    EXPECT_EQ(heard.fatal, 0);

    ASSERT_TRUE(fs::exists(directory / "Velmora.json"));
    const Database stored = Repository(directory, Repository::Access::readOnly).load();
    EXPECT_EQ(stored, store.db());
    EXPECT_EQ(stored.draft, store.draft());
    ASSERT_EQ(stored.sessions.size(), 1u);
    EXPECT_FALSE(stored.sessions[0].closed);
    EXPECT_LT(stored.sessions[0].opened, stored.sessions[0].scheduledEnd);
    ASSERT_EQ(stored.audit.size(), 1u);
    EXPECT_EQ(stored.audit[0].action, "Apertura");
    EXPECT_EQ(stored.audit[0].date, friday);
    EXPECT_EQ(stored.categories, pizzacore::Category::initial());
    EXPECT_EQ(platform.savePanels().size() + platform.openPanels().size() + platform.alerts().size(), 0u);
}

TEST(AppStoreStart, ARestartBringsBackTheDraftAndKeepsTheOpenSession) {
    TemporaryDirectory temporary;
    TestPlatformServices platform;
    Draft draft;
    {
        AppStore store(temporary.path(), Clock::fixed(friday), platform);
        store.start();
        ASSERT_FALSE(store.fatal());
        draft = store.draft();
        draft.phone = "600 123 456";
        draft.notes = "Llamar al llegar";
        store.setDraft(draft);
        ASSERT_TRUE(store.saveDraft());
    }
    AppStore again(temporary.path(), Clock::fixed(Instant{friday.seconds + 3600}), platform);
    again.start();
    ASSERT_FALSE(again.fatal());
    EXPECT_EQ(again.draft(), draft);
    EXPECT_EQ(again.db().sessions.size(), 1u);
}

TEST(AppStoreStart, ASecondInstanceIsFatalAndChangesNothingOnDisk) {
    TemporaryDirectory temporary;
    const fs::path directory = temporary.path() / "Velmora compartido";
    ScopedVariable variable("VELMORA_DATA_DIR", directory.string());
    OtherInstance first;
    ASSERT_EQ(first.firstLine(), "ready\n");
    const auto before = snapshot(directory);
    ASSERT_TRUE(before.count("Velmora.json"));

    TestPlatformServices platform;
    AppStore second(Clock::fixed(Instant{friday.seconds + 30 * 86400}), platform);
    Signals heard(second);
    second.start();
    ASSERT_TRUE(second.fatal());
    EXPECT_EQ(*second.fatal(), fatalText(instanceMessage, directory));
    EXPECT_EQ(second.location(), directory);
    EXPECT_EQ(heard.fatal, 1);
    EXPECT_TRUE(second.db().sessions.empty()) << "nothing was loaded";

    const Database shown = second.db();
    tryEveryChange(second);
    EXPECT_EQ(second.db(), shown);
    EXPECT_EQ(snapshot(directory), before);
    EXPECT_EQ(second.fatal(), fatalText(instanceMessage, directory)) << "the fatal text never changes";
}

TEST(AppStoreStart, ADamagedDocumentIsFatalAndNeverOverwritten) {
    TemporaryDirectory temporary;
    TestPlatformServices platform;
    {
        AppStore store(temporary.path(), Clock::fixed(friday), platform);
        store.start();
        ASSERT_FALSE(store.fatal());
    }
    // A valid envelope whose payload was changed by hand, and plain garbage.
    std::string edited = readFile(temporary.path() / "Velmora.json");
    const auto at = edited.find("\"payload\"");
    ASSERT_NE(at, std::string::npos);
    const auto letter = edited.find_first_of("ABCDEFGH", at + 12);
    ASSERT_NE(letter, std::string::npos);
    edited[letter] = edited[letter] == 'A' ? 'B' : 'A';
    for (const std::string& damaged : {edited, std::string("{\"format\": \"Velmora\", tru")}) {
        writeFile(temporary.path() / "Velmora.json", damaged);
        fs::remove(temporary.path() / "Velmora.previous.json");
        const auto before = snapshot(temporary.path());

        AppStore store(temporary.path(), Clock::fixed(Instant{friday.seconds + 7 * 86400}), platform);
        store.start();
        ASSERT_TRUE(store.fatal());
        const QString text = *store.fatal();
        EXPECT_TRUE(text.startsWith("No se han abierto los datos. ")) << text.toStdString();
        EXPECT_TRUE(text.endsWith("\nNo se creará una base vacía encima del archivo existente. Carpeta: " +
                                  QString::fromStdString(temporary.path().string())))
            << text.toStdString();
        EXPECT_GT(text.size(), fatalText("", temporary.path()).size()) << "the failure is described";

        tryEveryChange(store);
        EXPECT_EQ(snapshot(temporary.path()), before);
    }
}

TEST(AppStoreStart, ADataDirectoryThatCannotBeCreatedIsFatalWithASpanishReason) {
    TemporaryDirectory temporary;
    writeFile(temporary.path() / "archivo", "x");
    const fs::path directory = temporary.path() / "archivo" / "Velmora";
    TestPlatformServices platform;
    AppStore store(directory, Clock::fixed(friday), platform);
    store.start();
    ASSERT_TRUE(store.fatal());
    const QString text = *store.fatal();
    EXPECT_TRUE(
        text.startsWith("No se han abierto los datos. No se pudo crear la carpeta de datos: Ya existe ["))
        << text.toStdString();
    EXPECT_FALSE(text.contains("filesystem error") || text.contains("File exists")) << text.toStdString();
    EXPECT_TRUE(store.fatal()->endsWith("Carpeta: " + QString::fromStdString(directory.string())));
}

// A controller opened on an empty data folder, as at the first start.
class AppStoreOpen : public velmora::testing::ScreenTest {
protected:
    AppStoreOpen() { start_ = Start::emptyFolder; }
    fs::path file() const { return dataFolder() / "Velmora.json"; }
    void setNow(Instant instant) { *now_ = instant; }

    // A product on the menu, saved through the controller.
    pizzacore::Product addProduct() {
        pizzacore::Product product;
        product.name = "Margarita";
        product.cents = 950;
        EXPECT_TRUE(store().transact([&](Database& db) { db.saveProduct(product, *now_); }));
        return product;
    }
};

TEST_F(AppStoreOpen, ATransactionSavesTheCurrentDraftWithItsChangeAndPublishesBoth) {
    const pizzacore::Product product = addProduct();
    Draft draft = store().draft();
    draft.lines.push_back(pizzacore::Line::make(product));
    draft.name = "Lucía";
    store().setDraft(draft);

    // Observers of either signal see the document and the draft of the same save.
    Signals heard(store());
    bool consistent = true;
    QObject::connect(&store(), &AppStore::dbChanged,
                     [&] { consistent = consistent && store().db().draft == store().draft(); });
    std::optional<pizzacore::Order> confirmed;
    ASSERT_TRUE(store().transact([&](Database& db) { confirmed = db.confirm(db.draft, *now_); }));
    ASSERT_TRUE(confirmed);
    EXPECT_TRUE(consistent);
    EXPECT_EQ(heard.db, 1);
    EXPECT_EQ(heard.draft, 1) << "the confirmation left a fresh draft";
    EXPECT_EQ(confirmed->draft.lines, draft.lines) << "the transaction put the current draft in";
    EXPECT_NE(store().draft().id, draft.id);
    EXPECT_TRUE(store().draft().lines.empty());
    EXPECT_EQ(reloaded(), store().db());
    ASSERT_EQ(reloaded().orders.size(), 1u);

    // A change that leaves the draft alone still stores the draft being taken.
    Draft next = store().draft();
    next.notes = "Otra";
    store().setDraft(next);
    ASSERT_TRUE(store().transact([&](Database& db) { db.record("Prueba", "", *now_); }));
    EXPECT_EQ(reloaded().draft, next);
    EXPECT_EQ(store().draft(), next);
}

TEST_F(AppStoreOpen, ARefusedChangeLeavesEverythingAsItWasAndIsDescribed) {
    const Database before = store().db();
    const std::string bytes = readFile(file());
    Draft draft = store().draft();
    draft.notes = "Sin gluten";
    store().setDraft(draft);

    const velmora::Outcome outcome = store().transact([&](Database& db) {
        db.record("A medias", "", *now_);
        throw PCError::invalid("No se puede.");
    });
    EXPECT_FALSE(outcome);
    EXPECT_EQ(outcome.failure, "No se puede.");
    EXPECT_FALSE(store().message()) << "transact leaves the message to its caller";

    // A confirmation of a draft without lines is the core's refusal.
    const velmora::Outcome refused = store().transact([&](Database& db) { db.confirm(db.draft, *now_); });
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.failure.isEmpty());

    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(store().draft(), draft);
    EXPECT_EQ(readFile(file()), bytes);
}

TEST_F(AppStoreOpen, AFailedSaveLeavesTheDocumentAndDraftAndFillsTheMessage) {
    // A change the core accepts but the stored document's integrity check refuses on saving.
    const Database before = store().db();
    const std::string bytes = readFile(file());
    auto breakIt = [](Database& db) {
        pizzacore::Product orphan;
        orphan.name = "Huérfano";
        orphan.category = pizzacore::Category::make("Fantasma", false);
        db.products.push_back(orphan);
    };
    Database broken = before;
    breakIt(broken);
    std::string expected;
    try {
        Repository::validate(broken);
        FAIL() << "the orphan product should not pass validation";
    } catch (const PCError& error) {
        expected = error.message();
    }
    const velmora::Outcome outcome = store().transact(breakIt);
    EXPECT_FALSE(outcome);
    EXPECT_EQ(outcome.failure, QString::fromStdString(expected));
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(readFile(file()), bytes);

    // The stored file damaged behind the application's back: saving refuses to replace it.
    const std::string damaged = "dañado";
    writeFile(file(), damaged);
    Draft draft = store().draft();
    draft.notes = "Timbre roto";
    store().setDraft(draft);
    Signals heard(store());
    EXPECT_FALSE(store().saveDraft());
    ASSERT_TRUE(store().message());
    EXPECT_FALSE(store().message()->isEmpty());
    EXPECT_EQ(heard.message, 1);
    EXPECT_EQ(heard.db, 0);
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(store().draft(), draft) << "the draft in memory is kept";
    EXPECT_EQ(readFile(file()), damaged);

    // The same for a tick that falls due.
    store().clearMessage();
    setNow(Instant{before.sessions.back().scheduledEnd.seconds + 60});
    store().tick();
    EXPECT_TRUE(store().message());
    EXPECT_EQ(store().db(), before);
    EXPECT_EQ(readFile(file()), damaged);
}

TEST_F(AppStoreOpen, TickClosesTheSessionOnlyOnceItsScheduledEndHasPassed) {
    const pizzacore::Session first = store().db().sessions.back();
    const std::string bytes = readFile(file());

    setNow(Instant{first.scheduledEnd.seconds - 1});
    store().tick();
    EXPECT_EQ(store().db().sessions.size(), 1u);
    EXPECT_EQ(readFile(file()), bytes) << "nothing due, nothing saved";

    setNow(Instant{first.scheduledEnd.seconds + 90});
    store().tick();
    ASSERT_EQ(store().db().sessions.size(), 2u);
    const pizzacore::Session& closed = store().db().sessions[0];
    EXPECT_EQ(closed.id, first.id);
    EXPECT_EQ(closed.closed, first.scheduledEnd);
    EXPECT_EQ(closed.reason, "Automático");
    EXPECT_FALSE(store().db().sessions[1].closed);
    EXPECT_GT(store().db().sessions[1].scheduledEnd, *now_);
    ASSERT_GE(store().db().audit.size(), 2u);
    EXPECT_EQ(store().db().audit.back().action, "Apertura");
    EXPECT_EQ(reloaded(), store().db());
    EXPECT_FALSE(store().message());

    // The next tick finds nothing due.
    const std::string after = readFile(file());
    store().tick();
    EXPECT_EQ(readFile(file()), after);
}

TEST(AppStoreTick, SavesNothingWhenTheOpenSessionIsNotTheLastListed) {
    // A restored or hand-edited document may list a closed session after the open one; the
    // integrity rules accept that.
    TemporaryDirectory temporary;
    auto now = std::make_shared<Instant>(friday);
    Database db;
    pizzacore::Session open;
    open.businessDay = "2025-03-07";
    open.opened = Instant{friday.seconds - 3600};
    open.scheduledEnd = Instant{friday.seconds + 3600};
    pizzacore::Session closed = open;
    closed.id = pizzacore::Uuid::random();
    closed.businessDay = "2025-03-06";
    closed.opened = Instant{friday.seconds - 90000};
    closed.scheduledEnd = Instant{friday.seconds - 80000};
    closed.closed = closed.scheduledEnd;
    db.sessions = {open, closed};
    Repository(temporary.path(), false).save(db);

    TestPlatformServices platform;
    AppStore store(temporary.path(), Clock::manual(now), platform);
    store.start();
    ASSERT_FALSE(store.fatal());
    const auto before = snapshot(temporary.path());
    for (int minute = 1; minute <= 4; ++minute) {
        *now = Instant{friday.seconds + 30.0 * minute};
        store.tick();
    }
    EXPECT_EQ(snapshot(temporary.path()), before) << "nothing changed, nothing saved";
    EXPECT_FALSE(store.message());

    // Once the open session is due, the tick closes it.
    *now = Instant{open.scheduledEnd.seconds + 1};
    store.tick();
    ASSERT_EQ(store.db().sessions.size(), 3u);
    EXPECT_TRUE(store.db().sessions[0].closed);
    EXPECT_NE(snapshot(temporary.path()), before);
}

TEST(Failures, AreDescribedInSpanish) {
    using velmora::describeFailure;
    EXPECT_EQ(describeFailure(std::make_exception_ptr(PCError::invalid("Nombre obligatorio."))),
              "Nombre obligatorio.");
    const auto noSpace =
        std::make_exception_ptr(fs::filesystem_error("No se pudo escribir el archivo", "/datos/Velmora.json",
                                                     std::make_error_code(std::errc::no_space_on_device)));
    EXPECT_EQ(describeFailure(noSpace),
              "No se pudo escribir el archivo: No queda espacio en el disco [/datos/Velmora.json]");
    EXPECT_FALSE(describeFailure(std::make_exception_ptr(42)).isEmpty());
}

} // namespace
