// Backups and restores: what is written where, what survives from the current document, and that
// a refused backup or an active fiscal archive leaves the data as it was.

#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;
using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;

const Instant now{786'000'000.25};

std::vector<fs::path> preRestoreCopies(const fs::path& directory) {
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("Antes-de-restaurar-")) copies.push_back(entry.path());
    }
    return copies;
}

Database withNextNumber(std::uint64_t seed, std::int64_t nextNumber) {
    Database db = makeDocument(DocumentShape::tiny(), seed);
    db.nextNumber = nextNumber;
    return db;
}

class Backups : public ::testing::Test {
protected:
    fs::path data() const { return dataDirectory.path() / "datos"; }
    fs::path backup(const std::string& name) const { return elsewhere.path() / name; }

    TemporaryDirectory dataDirectory;
    TemporaryDirectory elsewhere;
};

TEST_F(Backups, RestoringTheBackupJustExportedGivesTheSameDocumentWithOneMoreAuditEntry) {
    Repository repository(data(), true);
    const Database current = makeDocument(DocumentShape::small(), 21);
    repository.save(current);
    const std::string stored = readFile(repository.file());

    const fs::path path = backup("Velmora-2025-06-01.velmorabackup");
    repository.exportTo(current, path);
    EXPECT_EQ(readFile(path), Repository::encode(current));

    const Database restored = repository.restore(path, current, now);
    Database expected = current;
    ASSERT_EQ(restored.audit.size(), current.audit.size() + 1);
    const Audit& entry = restored.audit.back();
    EXPECT_EQ(entry.action,
              "Restauración de copia; numeración mínima conservada: " + std::to_string(current.nextNumber));
    EXPECT_EQ(entry.reference, "Velmora-2025-06-01.velmorabackup");
    EXPECT_EQ(entry.date, now);
    expected.audit.push_back(entry);
    EXPECT_EQ(restored, expected);

    EXPECT_EQ(repository.load(), restored);
    EXPECT_EQ(readFile(data() / "Velmora.previous.json"), stored);
    const auto copies = preRestoreCopies(data());
    ASSERT_EQ(copies.size(), 1u);
    const std::string name = copies.front().filename().string();
    ASSERT_EQ(name.size(),
              std::string("Antes-de-restaurar-").size() + 36 + std::string(".velmorabackup").size());
    const auto id = Uuid::parse(name.substr(19, 36));
    ASSERT_TRUE(id);
    EXPECT_EQ(id->text(), name.substr(19, 36)) << "upper-case identifier";
    EXPECT_TRUE(name.ends_with(".velmorabackup"));
    EXPECT_EQ(Repository::decode(readFile(copies.front())), current);
    struct stat status {};
    ASSERT_EQ(::stat(copies.front().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(Backups, TheOrderNumberingNeverGoesBackwards) {
    Repository repository(data(), true);
    const Database current = withNextNumber(22, 57);
    repository.save(current);

    repository.exportTo(withNextNumber(23, 40), backup("antigua.velmorabackup"));
    const Database older = repository.restore(backup("antigua.velmorabackup"), current, now);
    EXPECT_EQ(older.nextNumber, 57);
    EXPECT_TRUE(older.audit.back().action.ends_with(": 57"));

    repository.exportTo(withNextNumber(24, 80), backup("nueva.velmorabackup"));
    const Database newer = repository.restore(backup("nueva.velmorabackup"), older, now);
    EXPECT_EQ(newer.nextNumber, 80);
    EXPECT_TRUE(newer.audit.back().action.ends_with(": 80"));
    EXPECT_EQ(preRestoreCopies(data()).size(), 2u);
}

TEST_F(Backups, ARestoreBeforeAnySaveWritesTheCopyAndThenTheDocument) {
    Repository repository(data(), true);
    const Database current = repository.load();
    repository.exportTo(makeDocument(DocumentShape::tiny(), 25), backup("copia"));
    const Database restored = repository.restore(backup("copia"), current, now);
    EXPECT_EQ(repository.load(), restored);
    EXPECT_EQ(preRestoreCopies(data()).size(), 1u);
    EXPECT_FALSE(fs::exists(data() / "Velmora.previous.json"));
}

TEST_F(Backups, ARefusedBackupWritesNothing) {
    Repository repository(data(), true);
    const Database current = makeDocument(DocumentShape::tiny(), 26);
    repository.save(current);
    const std::string stored = readFile(repository.file());

    std::string damaged = Repository::encode(makeDocument(DocumentShape::tiny(), 27));
    const std::size_t at = damaged.find("payload\":\"") + 30;
    damaged[at] = damaged[at] == 'A' ? 'B' : 'A';
    std::ofstream(backup("dañada.velmorabackup"), std::ios::binary) << damaged;

    try {
        repository.restore(backup("dañada.velmorabackup"), current, now);
        ADD_FAILURE() << "restored a damaged backup";
    } catch (const PCError& error) {
        EXPECT_EQ(error.message(),
                  "La copia no es válida o su integridad no coincide. No se han sustituido los datos.");
    }
    EXPECT_THROW(repository.restore(backup("no-existe.velmorabackup"), current, now), fs::filesystem_error);
    EXPECT_TRUE(preRestoreCopies(data()).empty());
    EXPECT_EQ(readFile(repository.file()), stored);
    EXPECT_FALSE(fs::exists(data() / "Velmora.previous.json"));
}

TEST_F(Backups, AnActiveFiscalArchiveIsNeverReplaced) {
    Repository repository(data(), true);
    const Database current = makeDocument(DocumentShape::tiny(), 28);
    repository.save(current);
    const std::string stored = readFile(repository.file());
    repository.exportTo(makeDocument(DocumentShape::tiny(), 29), backup("copia.velmorabackup"));

    // A restore that is refused writes nothing, not even the copy of the data it would replace.
    for (const bool invoices : {true, false}) {
        SCOPED_TRACE(invoices ? "invoices" : "events");
        Database active = current;
        active.fiscal = FiscalState{};
        if (invoices)
            active.fiscal->invoices.push_back(FiscalInvoice{});
        else
            active.fiscal->events.push_back(FiscalEvent{});
        try {
            repository.restore(backup("copia.velmorabackup"), active, now);
            ADD_FAILURE() << "replaced an active fiscal archive";
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(),
                      "No se puede reemplazar un archivo fiscal activo con una copia. La recuperación fiscal "
                      "requiere conservar la cadena completa sin retroceder series ni registros.");
        }
        EXPECT_TRUE(preRestoreCopies(data()).empty());
        EXPECT_EQ(readFile(repository.file()), stored);
        EXPECT_FALSE(fs::exists(data() / "Velmora.previous.json"));
    }
}

TEST_F(Backups, ABackupIsForItsOwnerOnlyAlsoOverAFileOthersCouldRead) {
    Repository repository(data(), true);
    const Database current = makeDocument(DocumentShape::tiny(), 32);
    const mode_t previous = ::umask(022);
    const fs::path fresh = backup("nueva.velmorabackup");
    repository.exportTo(current, fresh);
    const fs::path existing = backup("existente.velmorabackup");
    std::ofstream(existing) << "una copia anterior";
    fs::permissions(existing, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                  fs::perms::others_read);
    repository.exportTo(current, existing);
    const fs::path narrow = backup("privada.velmorabackup");
    std::ofstream(narrow) << "una copia anterior";
    fs::permissions(narrow, fs::perms::owner_read | fs::perms::owner_write);
    repository.exportTo(current, narrow);
    ::umask(previous);
    for (const fs::path& path : {fresh, existing, narrow}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(Repository::decode(readFile(path)), current);
    }
}

TEST_F(Backups, ExportRefusesAnInconsistentDocumentAndAnUnwritablePlace) {
    Repository repository(data(), true);
    Database broken = makeDocument(DocumentShape::tiny(), 30);
    broken.nextNumber = 0;
    EXPECT_THROW(repository.exportTo(broken, backup("rota.velmorabackup")), PCError);
    EXPECT_FALSE(fs::exists(backup("rota.velmorabackup")));

    std::ofstream(backup("archivo")) << "x";
    try {
        repository.exportTo(makeDocument(DocumentShape::tiny(), 31),
                            backup("archivo") / "copia.velmorabackup");
        ADD_FAILURE() << "exported below a regular file";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::not_a_directory);
    }
    EXPECT_EQ(std::set<fs::path>(fs::directory_iterator(elsewhere.path()), {}),
              std::set<fs::path>{backup("archivo")});
}

} // namespace
