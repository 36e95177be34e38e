// The settings window's controller flows on real data directories: backup export and restore with
// the panels and the confirmation answered in advance, files that must never be restored, the
// logo's limits, the settings transaction, and the automatic copy kept at every close.

#include <Velmora/Stores/AppStore.hpp>
#include <Velmora/Stores/DailyBackups.hpp>
#include <support/TestFiles.hpp>
#include <support/TestImages.hpp>

#include "ScreenTesting.hpp"
#include "TestPlatformServices.hpp"

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <QBuffer>
#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using pizzacore::Clock;
using pizzacore::Database;
using pizzacore::Instant;
using pizzacore::Repository;
using pizzacore::testing::readFile;
using pizzacore::testing::snapshot;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using velmora::AppStore;
using velmora::testing::TestPlatformServices;

const QString integrity =
    QStringLiteral("La copia no es válida o su integridad no coincide. No se han sustituido los datos.");
const QString logoRefusal = QStringLiteral("Elige una imagen PNG o JPEG de hasta 2 MB.");
const QString restored =
    QStringLiteral("Copia restaurada. La versión anterior permanece en la carpeta de datos.");

// The shift opened on `friday` ends at 04:00 local time on Saturday, 03:00 UTC.
using velmora::testing::friday;
constexpr Instant saturdayClose = Instant::fromUnix(1741348800.0 + 15 * 3600);

// A controller on a fresh data directory whose clock the test moves.
struct Desk : velmora::testing::ScreenBench {
    Desk() {
        openStore(Start::emptyFolder);
        if (store().fatal()) throw std::runtime_error(store().fatal()->toStdString());
    }
    Instant now() const { return *now_; }
    // Some data worth keeping: a customer, a product and business details.
    void fill() {
        pizzacore::Customer customer;
        customer.name = "Lucía Pérez";
        customer.phone = "600 111 222";
        pizzacore::Product product;
        product.name = "Margarita";
        product.cents = 950;
        ASSERT_TRUE(store().transact([&](Database& db) {
            db.saveCustomer(customer, *now_);
            db.saveProduct(product, *now_);
            db.settings.business = "Pizzería Sol";
        }));
    }
};

pizzacore::Bytes pngBytes(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0xC0, 0x40, 0x20));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return pizzacore::Bytes(data.begin(), data.end());
}

// A PNG picture padded after its end to exactly `size` bytes; decoders stop at the end chunk.
std::string pngOfSize(std::size_t size) {
    const pizzacore::Bytes png = pngBytes(40, 30);
    std::string bytes(png.begin(), png.end());
    bytes.resize(size, '\0');
    return bytes;
}

// The names of the entries of a folder, sorted.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// ---- Backup and restore ----------------------------------------------------------------------

TEST(BackupFlows, ExportThenRestoreGivesBackTheExportedDocumentAndClosesWhatFellDue) {
    Desk desk;
    desk.fill();
    pizzacore::Draft draft = desk.store().draft();
    draft.notes = "Sin cebolla";
    desk.store().setDraft(draft);
    const fs::path backup = desk.folder() / "mis copias" / "copia.velmorabackup";
    fs::create_directories(backup.parent_path());

    desk.platform().answerNextSavePanel(backup);
    desk.store().exportBackup();
    ASSERT_EQ(desk.platform().savePanels().size(), 1u);
    EXPECT_EQ(desk.platform().savePanels()[0].title, "Guardar copia de seguridad");
    EXPECT_EQ(desk.platform().savePanels()[0].proposedName, "Velmora-2025-03-07.velmorabackup");
    EXPECT_EQ(desk.store().message(),
              "Copia guardada. Contiene clientes, pedidos, cierres, borrador y ajustes.");
    const Database exported = Repository::decode(readFile(backup));
    EXPECT_EQ(exported, desk.store().db());
    EXPECT_EQ(fs::status(backup).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << "the copy holds the customers' data";
    EXPECT_EQ(exported.draft.notes, "Sin cebolla") << "the draft is saved before the copy";
    desk.store().clearMessage();

    // The data changes after the copy; then the copy comes back after its shift fell due.
    ASSERT_TRUE(desk.store().transact([](Database& db) { db.settings.business = "Otro nombre"; }));
    const Database replaced = desk.store().db();
    desk.store().setSelectedOrder(pizzacore::Uuid::random());
    desk.at(Instant{saturdayClose.seconds + 60});
    desk.platform().answerNextOpenPanel(backup);
    desk.platform().answerNextAlert(QStringLiteral("Restaurar"));
    EXPECT_TRUE(desk.store().restoreBackup());

    ASSERT_EQ(desk.platform().openPanels().size(), 1u);
    EXPECT_EQ(desk.platform().openPanels()[0].title, "Elegir copia de Velmora");
    EXPECT_EQ(desk.platform().openPanels()[0].kind, velmora::FileKind::any);
    ASSERT_EQ(desk.platform().alerts().size(), 1u);
    EXPECT_EQ(desk.platform().alerts()[0].message, "¿Restaurar esta copia?");
    // The operator recognises the copy before it replaces anything: what it holds and how recent
    // it is (the moment of its last entry, 7 March 2025).
    const QString informative = desk.platform().alerts()[0].informative;
    EXPECT_TRUE(
        informative.startsWith("La copia contiene 0 pedidos y 1 ficha de cliente, con datos hasta el "))
        << informative.toStdString();
    EXPECT_TRUE(informative.contains("2025")) << informative.toStdString();
    EXPECT_TRUE(informative.endsWith(
        ".\n\nSustituirá los datos actuales por los de la copia elegida. Se conservará una copia previa "
        "completa en la carpeta de datos. No combina bases de datos."))
        << informative.toStdString();
    EXPECT_EQ(desk.platform().alerts()[0].buttons, QStringList({"Restaurar", "Cancelar"}));
    EXPECT_EQ(desk.store().message(), restored);
    EXPECT_FALSE(desk.store().selectedOrder());

    // Everything comes from the copy; its audit goes on with the restore, then the tick's close
    // of the shift that fell due and the opening of the next one.
    const Database& now = desk.store().db();
    EXPECT_EQ(now.customers, exported.customers);
    EXPECT_EQ(now.products, exported.products);
    EXPECT_EQ(now.settings, exported.settings);
    EXPECT_EQ(now.nextNumber, exported.nextNumber);
    EXPECT_EQ(desk.store().draft(), exported.draft);
    ASSERT_EQ(now.audit.size(), exported.audit.size() + 3);
    EXPECT_TRUE(std::equal(exported.audit.begin(), exported.audit.end(), now.audit.begin()));
    const pizzacore::Audit& restore = now.audit[exported.audit.size()];
    EXPECT_EQ(restore.action, "Restauración de copia; numeración mínima conservada: 1");
    EXPECT_EQ(restore.reference, "copia.velmorabackup");
    EXPECT_EQ(now.audit[exported.audit.size() + 1].action, "Cierre Automático");
    EXPECT_EQ(now.audit[exported.audit.size() + 2].action, "Apertura");
    ASSERT_EQ(now.sessions.size(), 2u);
    EXPECT_EQ(now.sessions[0].closed, now.sessions[0].scheduledEnd);
    EXPECT_FALSE(now.sessions[1].closed);
    EXPECT_EQ(Repository(desk.dataFolder(), Repository::Access::readOnly).load(), now)
        << "what is shown is what is stored";

    // The data it replaced is kept whole before anything else was written.
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(desk.dataFolder()))
        if (entry.path().filename().string().starts_with("Antes-de-restaurar-")) kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].extension(), ".velmorabackup");
    EXPECT_EQ(Repository::decode(readFile(kept[0])), replaced);
    // The tick's close also left the day's automatic copy.
    EXPECT_EQ(namesIn(desk.store().dailyBackupFolder()),
              std::vector<std::string>{"Jornada-2025-03-07.velmorabackup"});
}

TEST(BackupFlows, ACancelledPanelOrConfirmationWritesNothing) {
    Desk desk;
    desk.fill();
    const fs::path backup = desk.folder() / "copia.velmorabackup";
    desk.platform().answerNextSavePanel(backup);
    desk.store().exportBackup();
    desk.store().clearMessage();
    const auto before = snapshot(desk.dataFolder());
    const Database shown = desk.store().db();

    desk.platform().answerNextSavePanel(std::nullopt);
    desk.store().exportBackup();
    desk.platform().answerNextOpenPanel(std::nullopt);
    EXPECT_FALSE(desk.store().restoreBackup());
    EXPECT_TRUE(desk.platform().alerts().empty()) << "nothing is asked without a file";
    for (const std::optional<QString>& answer :
         {std::optional<QString>("Cancelar"), std::optional<QString>()}) {
        desk.platform().answerNextOpenPanel(backup);
        desk.platform().answerNextAlert(answer);
        EXPECT_FALSE(desk.store().restoreBackup());
    }
    EXPECT_EQ(desk.platform().alerts().size(), 2u);
    EXPECT_FALSE(desk.store().message());
    EXPECT_EQ(desk.store().db(), shown);
    EXPECT_EQ(snapshot(desk.dataFolder()), before);
    EXPECT_EQ(desk.platform().unusedAnswers(), 0u);
}

TEST(BackupFlows, ABackupIsNeverWrittenOverTheDataFiles) {
    Desk desk;
    desk.fill();
    const auto before = snapshot(desk.dataFolder());
    for (const char* name : {".lock", "Velmora.json", "Velmora.previous.json"}) {
        desk.platform().answerNextSavePanel(desk.dataFolder() / name);
        desk.store().exportBackup();
        ASSERT_TRUE(desk.store().message()) << name;
        EXPECT_TRUE(desk.store().message()->startsWith("Ese archivo forma parte de los datos de Velmora."));
        desk.store().clearMessage();
    }
    // The draft save before each attempt replaced the previous copy with identical bytes.
    EXPECT_EQ(snapshot(desk.dataFolder()).at("Velmora.json"), before.at("Velmora.json"));
    EXPECT_EQ(snapshot(desk.dataFolder()).at(".lock"), before.at(".lock"));
}

TEST(BackupFlows, AnExportThatCannotBeWrittenSaysWhy) {
    Desk desk;
    desk.platform().answerNextSavePanel(desk.folder() / "no existe" / "copia.velmorabackup");
    desk.store().exportBackup();
    ASSERT_TRUE(desk.store().message());
    EXPECT_FALSE(desk.store().message()->startsWith("Copia guardada"))
        << desk.store().message()->toStdString();
    EXPECT_TRUE(desk.store().message()->contains("No existe el archivo o la carpeta"))
        << desk.store().message()->toStdString();
}

// Restores `path` answering every question, and checks that it was refused before anything was
// asked or written.
void expectRefused(Desk& desk, const fs::path& path, const std::optional<QString>& expected) {
    const auto before = snapshot(desk.dataFolder());
    const Database shown = desk.store().db();
    const std::size_t alerts = desk.platform().alerts().size();
    desk.store().clearMessage();
    desk.platform().answerNextOpenPanel(path);
    EXPECT_FALSE(desk.store().restoreBackup());
    ASSERT_TRUE(desk.store().message());
    if (expected) {
        EXPECT_EQ(*desk.store().message(), *expected);
    }
    EXPECT_FALSE(desk.store().message()->startsWith("Copia restaurada"));
    EXPECT_EQ(desk.platform().alerts().size(), alerts) << "a bad file is refused before the confirmation";
    EXPECT_EQ(desk.store().db(), shown);
    EXPECT_EQ(snapshot(desk.dataFolder()), before) << "nothing on disk changed";
}

TEST(BackupFlows, RestoreRefusesFilesThatAreNoValidBackup) {
    Desk desk;
    desk.fill();
    const fs::path good = desk.folder() / "buena.velmorabackup";
    desk.platform().answerNextSavePanel(good);
    desk.store().exportBackup();
    const std::string envelope = readFile(good);
    const fs::path folder = desk.folder();

    std::string damaged = envelope;
    damaged[damaged.find("\"payload\":\"") + 30] ^= 0x01;
    Database inconsistent = desk.store().db();
    inconsistent.nextNumber = 0;
    std::string otherFormat = envelope;
    otherFormat.replace(otherFormat.find("\"Velmora\""), 9, "\"Vendora\"");

    struct Case {
        const char* name;
        std::string bytes;
        std::optional<QString> message; // nothing: the reader's own description
    };
    const std::vector<Case> cases = {
        {"dañada.velmorabackup", damaged, integrity},
        {"cortada.velmorabackup", envelope.substr(0, envelope.size() / 2), std::nullopt},
        {"vacía.velmorabackup", "", integrity},
        {"espacios.velmorabackup", "  \n\t ", integrity},
        {"foto.velmorabackup",
         std::string(reinterpret_cast<const char*>(pngBytes(8, 8).data()), pngBytes(8, 8).size()), integrity},
        {"otro-programa.velmorabackup", otherFormat, integrity},
        {"json-ajeno.json", R"({"name":"otra cosa","items":[1,2,3]})", std::nullopt},
        {"inconsistente.velmorabackup", pizzacore::Envelope::wrap(pizzacore::toJSON(inconsistent)),
         QStringLiteral(
             "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.")},
    };
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.name);
        writeFile(folder / bad.name, bad.bytes);
        expectRefused(desk, folder / bad.name, bad.message);
    }

    // A folder, and a file that no longer exists when it is read.
    fs::create_directories(folder / "carpeta.velmorabackup");
    expectRefused(desk, folder / "carpeta.velmorabackup", std::nullopt);
    EXPECT_TRUE(desk.store().message()->contains("Es una carpeta")) << desk.store().message()->toStdString();
    expectRefused(desk, folder / "desaparecida.velmorabackup", std::nullopt);
    EXPECT_TRUE(desk.store().message()->contains("No existe el archivo o la carpeta"));
}

TEST(BackupFlows, RestoreRefusesAFifoWithoutWaitingOnIt) {
    Desk desk;
    const fs::path fifo = desk.folder() / "tuberia.velmorabackup";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should the flow wait on the FIFO, a writer that comes and goes after five seconds ends the
    // wait, so that the test fails instead of hanging.
    std::atomic<bool> finished = false;
    std::thread rescue([&] {
        for (int step = 0; step < 50 && !finished; ++step)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (finished) return;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    });
    const auto start = std::chrono::steady_clock::now();
    expectRefused(desk, fifo, integrity);
    finished = true;
    rescue.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST(BackupFlows, RestoreRefusesTwoGigabytesOfGarbageAfterReadingItsBeginning) {
    Desk desk;
    const fs::path garbage = desk.folder() / "basura.velmorabackup";
    {
        // Sparse: the file claims 2 GB but takes no room on the disk.
        const int fd = ::open(garbage.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const std::string start = "\x7F"
                                  "ELF garbage \x01\x02\x03";
        ASSERT_EQ(::write(fd, start.data(), start.size()), static_cast<ssize_t>(start.size()));
        ASSERT_EQ(::ftruncate(fd, off_t(2) << 30), 0);
        ::close(fd);
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    expectRefused(desk, garbage, integrity);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    // The peak resident size (in KiB) grew by far less than the file.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(BackupFlows, ALargeFileIsCheckedWhileTheWindowKeepsWorkingAndWithLittleMemory) {
    Desk desk;
    // Valid UTF-8 and valid JSON for 64 MB, in a form this program does not write, with a digest
    // that does not match: it can only be refused once it has been read to its end.
    const fs::path chosen = desk.folder() / "espaciada.velmorabackup";
    {
        std::ofstream out(chosen, std::ios::binary);
        out << "{ \"format\": \"Velmora\", \"payload\": \"";
        const std::string block(std::size_t(1) << 20, 'A');
        for (int i = 0; i < 64; ++i)
            out << block;
        out << "\", \"sha256\": \"" << std::string(64, '0') << "\", \"version\": 1 }";
    }
    // Counts the turns of the window's event loop.
    int turns = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&turns] { ++turns; });
    timer.start(0);
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    expectRefused(desk, chosen, integrity);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    timer.stop();
    EXPECT_GT(turns, 0) << "the window waited for the check instead of handling its events";
    // The peak resident size (in KiB) grew by far less than the file.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024);
}

TEST(BackupFlows, ABackupOfALaterVersionAsksForAnUpdate) {
    Desk desk;
    desk.fill();
    const fs::path backup = desk.folder() / "copia.velmorabackup";
    desk.platform().answerNextSavePanel(backup);
    desk.store().exportBackup();
    std::string bytes = readFile(backup);
    bytes.replace(bytes.rfind("\"version\":1}"), 12, "\"version\":2}");
    const fs::path later = desk.folder() / "posterior.velmorabackup";
    writeFile(later, bytes);
    expectRefused(
        desk, later,
        QStringLiteral("Formato de datos no compatible (2). Actualiza Velmora; los datos originales se "
                       "conservan."));
}

TEST(BackupFlows, ALargeGenuineBackupStillRestores) {
    Desk desk;
    // Product pictures make the copy several megabytes long, far beyond the part looked at first.
    ASSERT_TRUE(desk.store().transact([&](Database& db) {
        for (int i = 0; i < 6; ++i) {
            pizzacore::Product product;
            product.name = "Pizza " + std::to_string(i);
            product.image = pizzacore::Bytes(1'900'000, static_cast<std::uint8_t>(i));
            db.saveProduct(product, desk.now());
        }
    }));
    const fs::path backup = desk.folder() / "grande.velmorabackup";
    desk.platform().answerNextSavePanel(backup);
    desk.store().exportBackup();
    ASSERT_GT(fs::file_size(backup), 10'000'000u);
    const Database exported = desk.store().db();
    ASSERT_TRUE(desk.store().transact([](Database& db) { db.products.clear(); }));

    desk.platform().answerNextOpenPanel(backup);
    desk.platform().answerNextAlert(QStringLiteral("Restaurar"));
    ASSERT_TRUE(desk.store().restoreBackup()) << desk.store().message()->toStdString();
    EXPECT_EQ(desk.store().db().products, exported.products);
}

TEST(BackupFlows, RestoreKeepsTheNumberingOfTheCurrentData) {
    Desk desk;
    const fs::path backup = desk.folder() / "vieja.velmorabackup";
    ASSERT_TRUE(desk.store().transact([](Database& db) { db.nextNumber = 40; }));
    desk.platform().answerNextSavePanel(backup);
    desk.store().exportBackup();
    ASSERT_TRUE(desk.store().transact([](Database& db) { db.nextNumber = 57; }));
    desk.platform().answerNextOpenPanel(backup);
    desk.platform().answerNextAlert(QStringLiteral("Restaurar"));
    ASSERT_TRUE(desk.store().restoreBackup());
    EXPECT_EQ(desk.store().db().nextNumber, 57);
    EXPECT_EQ(desk.store().db().audit.back().action,
              "Restauración de copia; numeración mínima conservada: 57");
}

// ---- Logo --------------------------------------------------------------------------------------

TEST(ImportLogo, AcceptsUpToTwoMillionBytesOfPngOrJpegAndNothingElse) {
    Desk desk;
    const fs::path folder = desk.folder();
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImage(32, 24, QImage::Format_RGB32).save(&buffer, "JPEG");
    }
    writeFile(folder / "exacto.png", pngOfSize(2'000'000));
    writeFile(folder / "foto.jpg", std::string(jpeg.constData(), static_cast<std::size_t>(jpeg.size())));
    writeFile(folder / "grande.png", pngOfSize(2'000'001));
    writeFile(folder / "texto.png", "esto no es una imagen");
    writeFile(folder / "vacía.png", "");
    QByteArray bmp;
    {
        QBuffer buffer(&bmp);
        buffer.open(QIODevice::WriteOnly);
        QImage(8, 8, QImage::Format_RGB32).save(&buffer, "BMP");
    }
    writeFile(folder / "mapa.png", std::string(bmp.constData(), static_cast<std::size_t>(bmp.size())));
    fs::create_directories(folder / "carpeta.png");
    ASSERT_EQ(::mkfifo((folder / "tuberia.png").c_str(), 0600), 0);

    const pizzacore::Bytes previous = pngBytes(4, 4);
    for (const char* name : {"exacto.png", "foto.jpg"}) {
        pizzacore::Settings settings;
        settings.logo = previous;
        desk.platform().answerNextOpenPanel(folder / name);
        EXPECT_TRUE(desk.store().importLogo(settings)) << name;
        const std::string stored = readFile(folder / name);
        EXPECT_EQ(settings.logo, pizzacore::Bytes(stored.begin(), stored.end()))
            << "kept unchanged: " << name;
    }
    EXPECT_FALSE(desk.store().message());
    EXPECT_EQ(desk.platform().openPanels().back().kind, velmora::FileKind::image);

    for (const char* name :
         {"grande.png", "texto.png", "vacía.png", "mapa.png", "carpeta.png", "tuberia.png"}) {
        pizzacore::Settings settings;
        settings.logo = previous;
        const pizzacore::Settings untouched = settings;
        desk.platform().answerNextOpenPanel(folder / name);
        EXPECT_FALSE(desk.store().importLogo(settings)) << name;
        EXPECT_EQ(desk.store().message(), logoRefusal) << name;
        EXPECT_EQ(settings, untouched) << name;
        desk.store().clearMessage();
    }

    pizzacore::Settings settings;
    desk.platform().answerNextOpenPanel(std::nullopt);
    EXPECT_FALSE(desk.store().importLogo(settings));
    EXPECT_FALSE(settings.logo);
    EXPECT_FALSE(desk.store().message());
}

TEST(ImportLogo, PicturesCutShortOrClaimingHugeSizesAreRefusedAndTheLogoIsReadAwayFromTheWindow) {
    using pizzacore::testing::claimingSize;
    using pizzacore::testing::jpegImage;
    Desk desk;
    const fs::path folder = desk.folder();
    const auto asText = [](const pizzacore::Bytes& bytes) {
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    const auto colours = [](int x, int y) { return std::uint32_t(x * 0x010203 + y * 0x030201); };
    const pizzacore::Bytes photo = jpegImage(300, 200, colours);
    writeFile(folder / "cortado.jpg", asText(photo).substr(0, photo.size() / 2));
    writeFile(folder / "enorme.jpg",
              asText(claimingSize(jpegImage(8, 8, colours, {.progressive = true}), 40000, 40000)));
    for (const char* name : {"cortado.jpg", "enorme.jpg"}) {
        pizzacore::Settings settings;
        desk.platform().answerNextOpenPanel(folder / name);
        EXPECT_FALSE(desk.store().importLogo(settings)) << name;
        EXPECT_EQ(desk.store().message(), logoRefusal) << name;
        EXPECT_FALSE(settings.logo) << name;
        desk.store().clearMessage();
    }

    // A large logo is read and decoded while the window's timers keep running.
    const pizzacore::Bytes large =
        pizzacore::testing::pngImage(3000, 3000, [](int x, int) { return x < 1500 ? 0xFF0000u : 0x0000FFu; });
    ASSERT_LE(large.size(), 2'000'000u);
    writeFile(folder / "grande.png", asText(large));
    int ticks = 0;
    QTimer timer;
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();
    pizzacore::Settings settings;
    desk.platform().answerNextOpenPanel(folder / "grande.png");
    EXPECT_TRUE(desk.store().importLogo(settings));
    timer.stop();
    EXPECT_EQ(settings.logo, large);
    EXPECT_GT(ticks, 1);
}

// ---- Settings transaction ----------------------------------------------------------------------

TEST(SaveSettings, RefusesANameOfSpacesOrNoDestinationAndStoresTheNameAsTyped) {
    Desk desk;
    const auto before = snapshot(desk.dataFolder());
    const pizzacore::Settings inForce = desk.store().db().settings;
    const QString refusal = QStringLiteral("Indica el nombre del negocio y activa al menos un destinatario.");

    pizzacore::Settings spaces = inForce;
    spaces.business = " \t\n ";
    pizzacore::Settings none = inForce;
    none.kitchen = none.bar = none.customer = false;
    for (const pizzacore::Settings& refused : {spaces, none}) {
        EXPECT_FALSE(desk.store().saveSettings(refused));
        EXPECT_EQ(desk.store().message(), refusal);
        desk.store().clearMessage();
    }
    EXPECT_EQ(desk.store().db().settings, inForce);
    EXPECT_EQ(snapshot(desk.dataFolder()), before);

    pizzacore::Settings named = inForce;
    named.business = "  Pizzería Sol  ";
    named.bar = true;
    named.kitchen = named.customer = false;
    ASSERT_TRUE(desk.store().saveSettings(named));
    EXPECT_EQ(Repository(desk.dataFolder(), Repository::Access::readOnly).load().settings, named);
    EXPECT_EQ(desk.store().db().audit.back().action, "Guardar ajustes");
    EXPECT_EQ(desk.store().db().audit.back().reference, "");
    EXPECT_FALSE(desk.store().message());
}

// ---- Daily copies ------------------------------------------------------------------------------

// Makes a folder unwritable, for root too (through the immutable flag where the file system has
// one); restores it when done.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(fs::path folder)
        : folder_(std::move(folder)) {
        fs::create_directories(folder_);
        ::chmod(folder_.c_str(), 0500);
        if (::geteuid() == 0) setImmutable(true);
        const fs::path probe = folder_ / "prueba";
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT, 0600);
        effective_ = fd < 0;
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
        }
    }
    ~ReadOnlyFolder() {
        if (::geteuid() == 0) setImmutable(false);
        ::chmod(folder_.c_str(), 0700);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool effective() const { return effective_; }

private:
    void setImmutable(bool on) {
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) return;
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(fd);
    }

    fs::path folder_;
    bool effective_ = false;
};

TEST(DailyBackups, TheAutomaticCloseLeavesACopyOfTheDayThatRestores) {
    Desk desk;
    desk.fill();
    const fs::path copies = desk.dataFolder() / "Copias";
    EXPECT_EQ(desk.store().dailyBackupFolder(), copies);
    desk.at(Instant{saturdayClose.seconds - 1});
    desk.store().tick();
    desk.store().flush();
    EXPECT_FALSE(fs::exists(copies)) << "nothing before the close";

    desk.at(Instant{saturdayClose.seconds + 20});
    desk.store().tick();
    // The copy is made in the background, once the close is folded into the data file.
    desk.store().flush();
    ASSERT_EQ(desk.store().db().sessions.size(), 2u);
    EXPECT_TRUE(desk.store().db().sessions[0].closed);
    EXPECT_FALSE(desk.store().message());
    ASSERT_EQ(namesIn(copies), std::vector<std::string>{"Jornada-2025-03-07.velmorabackup"});
    const fs::path copy = copies / "Jornada-2025-03-07.velmorabackup";
    EXPECT_EQ(Repository::decode(readFile(copy)), desk.store().db())
        << "the document as saved after the close";
    EXPECT_EQ(fs::status(copy).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Later saves never change the day's copy.
    const std::string kept = readFile(copy);
    ASSERT_TRUE(desk.store().transact([](Database& db) { db.settings.footer = "Hasta pronto"; }));
    desk.store().tick();
    desk.store().fold();
    desk.store().flush();
    EXPECT_EQ(readFile(copy), kept);

    // It is a backup like any other.
    desk.platform().answerNextOpenPanel(copy);
    desk.platform().answerNextAlert(QStringLiteral("Restaurar"));
    EXPECT_TRUE(desk.store().restoreBackup());
    EXPECT_EQ(desk.store().db().settings.footer, "Gracias por tu pedido");
}

TEST(DailyBackups, AManualCloseLeavesTheDaysCopyAndALaterCloseReplacesIt) {
    Desk desk;
    desk.at(Instant{friday.seconds + 3600});
    const pizzacore::Uuid first = desk.store().db().sessions.back().id;
    ASSERT_TRUE(desk.store().closeShift(first));
    desk.store().flush();
    const fs::path copy = desk.dataFolder() / "Copias" / "Jornada-2025-03-07.velmorabackup";
    ASSERT_TRUE(fs::exists(copy));
    EXPECT_EQ(Repository::decode(readFile(copy)).sessions.size(), 2u);

    // The second shift of the same day closes at the closing time: the copy becomes the last one.
    desk.at(Instant{saturdayClose.seconds + 5});
    desk.store().tick();
    desk.store().flush();
    const Database last = Repository::decode(readFile(copy));
    EXPECT_EQ(last, desk.store().db());
    EXPECT_EQ(last.sessions.size(), 3u);
    EXPECT_EQ(namesIn(desk.dataFolder() / "Copias").size(), 1u);
}

TEST(DailyBackups, OnlyTheLastThirtyDaysAreKeptAndOtherFilesAreLeftAlone) {
    Desk desk;
    const fs::path copies = desk.dataFolder() / "Copias";
    fs::create_directories(copies);
    // 35 earlier days, from 2025-01-01, and files that are not day copies.
    for (int day = 0; day < 35; ++day) {
        char name[64];
        std::snprintf(name, sizeof name, "Jornada-2025-%02d-%02d.velmorabackup", 1 + day / 28, 1 + day % 28);
        writeFile(copies / name, "vieja");
    }
    writeFile(copies / "notas.txt", "mías");
    writeFile(copies / "Jornada-2024-1-1.velmorabackup", "nombre distinto");
    fs::create_directories(copies / "Jornada-2000-01-01.velmorabackup");

    desk.at(Instant{saturdayClose.seconds + 1});
    desk.store().tick();
    desk.store().flush();
    EXPECT_FALSE(desk.store().message());
    std::vector<std::string> days;
    for (const std::string& name : namesIn(copies))
        if (name.size() == 32 && name.starts_with("Jornada-2025")) days.push_back(name);
    ASSERT_EQ(days.size(), 30u);
    // The six oldest of 36 went: January 1 to 6.
    EXPECT_EQ(days.front(), "Jornada-2025-01-07.velmorabackup");
    EXPECT_EQ(days.back(), "Jornada-2025-03-07.velmorabackup");
    EXPECT_TRUE(fs::exists(copies / "notas.txt"));
    EXPECT_TRUE(fs::exists(copies / "Jornada-2024-1-1.velmorabackup"));
    EXPECT_TRUE(fs::is_directory(copies / "Jornada-2000-01-01.velmorabackup"));
}

TEST(DailyBackups, ACopyThatCannotBeWrittenNeitherBlocksNorUndoesTheClose) {
    // The folder that cannot be made read-only here comes last, so that its skip loses nothing.
    for (const bool asFile : {true, false}) {
        SCOPED_TRACE(asFile ? "Copias is a file" : "Copias is read-only");
        Desk desk;
        const fs::path copies = desk.dataFolder() / "Copias";
        std::optional<ReadOnlyFolder> readOnly;
        if (asFile) {
            writeFile(copies, "no es una carpeta");
        } else {
            readOnly.emplace(copies);
            if (!readOnly->effective()) GTEST_SKIP() << "this file system cannot make a folder read-only";
        }
        desk.at(Instant{saturdayClose.seconds + 1});
        desk.store().tick();
        desk.store().flush();

        // The close is published and stored.
        ASSERT_EQ(desk.store().db().sessions.size(), 2u);
        EXPECT_TRUE(desk.store().db().sessions[0].closed);
        EXPECT_EQ(Repository(desk.dataFolder(), Repository::Access::readOnly).load(), desk.store().db());
        ASSERT_TRUE(desk.store().message());
        const QString text = *desk.store().message();
        EXPECT_TRUE(
            text.startsWith("El cierre está guardado, pero no se pudo hacer la copia automática de la "
                            "jornada 2025-03-07 en la carpeta Copias: "))
            << text.toStdString();
        desk.store().clearMessage();

        // Reported once: later ticks and saves say nothing more.
        desk.at(Instant{saturdayClose.seconds + 120});
        desk.store().tick();
        ASSERT_TRUE(desk.store().saveDraft());
        desk.store().flush();
        EXPECT_FALSE(desk.store().message());
        if (!asFile) {
            EXPECT_TRUE(namesIn(copies).empty());
        }
    }
}

TEST(DailyBackups, AFailedCopyAfterARestoreFollowsTheRestoreConfirmation) {
    Desk desk;
    const fs::path backup = desk.folder() / "copia.velmorabackup";
    desk.platform().answerNextSavePanel(backup);
    desk.store().exportBackup();
    desk.store().clearMessage();
    writeFile(desk.dataFolder() / "Copias", "no es una carpeta");
    desk.at(Instant{saturdayClose.seconds + 60});
    desk.platform().answerNextOpenPanel(backup);
    desk.platform().answerNextAlert(QStringLiteral("Restaurar"));
    ASSERT_TRUE(desk.store().restoreBackup());
    ASSERT_TRUE(desk.store().message());
    const QStringList parts = desk.store().message()->split(QStringLiteral("\n\n"));
    ASSERT_EQ(parts.size(), 2) << desk.store().message()->toStdString();
    EXPECT_EQ(parts[0], restored);
    EXPECT_TRUE(parts[1].startsWith("El cierre está guardado, pero no se pudo hacer la copia automática"));
    EXPECT_TRUE(desk.store().db().sessions[0].closed);
}

TEST(DailyBackups, ACloseFoundAtStartUpLeavesItsCopy) {
    TemporaryDirectory temporary;
    TestPlatformServices platform;
    {
        AppStore store(temporary.path(), Clock::fixed(friday), platform);
        store.start();
    }
    // Closed on Friday; opened again on Monday.
    AppStore store(temporary.path(), Clock::fixed(Instant{friday.seconds + 3 * 86400}), platform);
    store.start();
    ASSERT_FALSE(store.fatal());
    EXPECT_TRUE(fs::exists(temporary.path() / "Copias" / "Jornada-2025-03-07.velmorabackup"));
}

TEST(DailyBackups, NamesComeOnlyFromDayTexts) {
    EXPECT_EQ(velmora::DailyBackups::fileName("2026-03-09"), "Jornada-2026-03-09.velmorabackup");
    for (const char* bad : {"", "2026-3-09", "../../etc/x", "2026/03/09", "2026-03-09 ", "２０２６-03-09"})
        EXPECT_FALSE(velmora::DailyBackups::fileName(bad)) << bad;
}

} // namespace
