// The data directory on disk: creation, the single-instance lock between processes, what a save
// writes, and how damaged, foreign or hostile files are refused without anything being replaced,
// also when the disk is full or the directory cannot be written.

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/ScopedVariable.hpp>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <system_error>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::readFile;
using pizzacore::testing::ScopedVariable;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;
using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;

const std::string instanceMessage = "Velmora ya está abierto con estos datos. Usa una sola instancia.";
const std::string integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";
const std::string inconsistentMessage =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";

std::set<std::string> namesIn(const fs::path& directory) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

unsigned modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// Runs `action` in a forked child and gives its exit status: the child reports with _exit, so
// nothing of the test process (buffers, handlers) runs twice.
int inChild(const std::function<int()>& action) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 100;
        try {
            code = action();
        } catch (...) {
            code = 101;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Expects `call` to fail with a PCError carrying `message`, or with a JSONError when there is no
// message.
void expectRefused(const std::function<void()>& call, const std::optional<std::string>& message) {
    try {
        call();
        ADD_FAILURE() << "no failure";
    } catch (const PCError& error) {
        if (message)
            EXPECT_EQ(error.message(), *message);
        else
            ADD_FAILURE() << "PCError instead of a JSON failure: " << error.message();
    } catch (const JSONError& error) {
        EXPECT_FALSE(message) << "JSON failure instead of a refusal: " << error.what();
    }
}

class RepositoryFiles : public ::testing::Test {
protected:
    fs::path dir() const { return temporary.path(); }
    fs::path json() const { return dir() / "Velmora.json"; }
    fs::path previous() const { return dir() / "Velmora.previous.json"; }

    TemporaryDirectory temporary;
};

TEST_F(RepositoryFiles, AnEmptyDirectoryLoadsANewDocumentAndWritesNothing) {
    Repository repository(dir(), true);
    const Database db = repository.load();
    ASSERT_EQ(db.categories.size(), 3u);
    EXPECT_EQ(db.categories, Database().categories);
    EXPECT_TRUE(db.orders.empty());
    EXPECT_EQ(namesIn(dir()), std::set<std::string>{".lock"});
    EXPECT_EQ(modeOf(dir() / ".lock"), 0600u);
    EXPECT_EQ(repository.file(), dir() / "Velmora.json");
}

TEST_F(RepositoryFiles, EachSaveKeepsTheReplacedBytesAsThePreviousCopy) {
    const Database first = makeDocument(DocumentShape::tiny(), 1);
    const Database second = makeDocument(DocumentShape::tiny(), 2);
    const Database third = makeDocument(DocumentShape::small(), 3);
    Repository repository(dir(), true);

    repository.save(first);
    EXPECT_EQ(namesIn(dir()), (std::set<std::string>{".lock", "Velmora.json"}));
    const std::string firstBytes = readFile(json());
    EXPECT_EQ(firstBytes, Repository::encode(first));
    EXPECT_EQ(modeOf(json()), 0600u);

    repository.save(second);
    EXPECT_EQ(namesIn(dir()), (std::set<std::string>{".lock", "Velmora.json", "Velmora.previous.json"}));
    EXPECT_EQ(readFile(previous()), firstBytes);
    const std::string secondBytes = readFile(json());
    EXPECT_EQ(secondBytes, Repository::encode(second));

    repository.save(third);
    EXPECT_EQ(readFile(previous()), secondBytes);
    EXPECT_EQ(modeOf(json()), 0600u);
    EXPECT_EQ(modeOf(previous()), 0600u);
    EXPECT_EQ(repository.load(), third);
    EXPECT_EQ(Repository(dir(), false).load(), third);
}

TEST_F(RepositoryFiles, ASaveAfterAnotherProgramReplacedTheFileChecksTheNewFile) {
    // The repository knows the bytes it wrote; a different file, even a valid one, is read in full.
    Repository repository(dir(), false);
    repository.save(makeDocument(DocumentShape::tiny(), 1));
    const std::string foreign = Repository::encode(makeDocument(DocumentShape::tiny(), 9));
    writeFile(json(), foreign);
    repository.save(makeDocument(DocumentShape::tiny(), 2));
    EXPECT_EQ(readFile(previous()), foreign);
}

TEST_F(RepositoryFiles, OpeningWithTheLockRemovesWhatAKilledSaveLeft) {
    const std::string leftover = ".Velmora.json.0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9.tmp";
    writeFile(dir() / leftover, "half a file");
    writeFile(dir() / ".notas.tmp", "not ours");
    Repository(dir(), false);
    EXPECT_TRUE(fs::exists(dir() / leftover)) << "without the lock someone else may be writing";
    Repository repository(dir(), true);
    EXPECT_EQ(namesIn(dir()), (std::set<std::string>{".lock", ".notas.tmp"}));
}

TEST(Envelope, IsOneCompactLineWithTheDigestOfTheDocumentBytes) {
    EXPECT_EQ(Envelope::hex(Envelope::sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    DocumentShape shape = DocumentShape::small();
    shape.awkwardText = true;
    const Database db = makeDocument(shape, 4);
    const std::string document = toJSON(db);
    const std::string bytes = Repository::encode(db);
    const std::string prefix = R"({"format":"Velmora","payload":")";
    const std::string suffix = R"(","version":1})";
    ASSERT_EQ(bytes.compare(0, prefix.size(), prefix), 0);
    ASSERT_GT(bytes.size(), prefix.size() + suffix.size() + 76);
    EXPECT_EQ(bytes.substr(bytes.size() - suffix.size()), suffix);
    const std::string digest = bytes.substr(bytes.size() - suffix.size() - 64, 64);
    EXPECT_EQ(digest, Envelope::hex(Envelope::sha256(document)));
    EXPECT_EQ(bytes.substr(bytes.size() - suffix.size() - 64 - 12, 12), R"(","sha256":")");

    std::string payload = bytes.substr(prefix.size(), bytes.size() - prefix.size() - suffix.size() - 76);
    ASSERT_NE(payload.find("\\/"), std::string::npos);
    for (std::size_t at = 0; (at = payload.find('/', at)) != std::string::npos; ++at)
        ASSERT_TRUE(at > 0 && payload[at - 1] == '\\') << "unescaped slash at " << at;
    for (std::size_t at = 0; (at = payload.find("\\/", at)) != std::string::npos;)
        payload.erase(at, 1);
    const auto decoded = Base64::decode(payload);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::string(decoded->begin(), decoded->end()), document);

    // Readers take the keys in any order, with whitespace, unescaped slashes and unknown keys.
    const std::string loose = "{ \"version\" : 1, \"extra\": [1], \"sha256\": \"" + digest +
                              "\",\n \"payload\": \"" + payload + "\", \"format\": \"Velmora\" }";
    EXPECT_EQ(Repository::decode(loose), db);
    EXPECT_EQ(Repository::decode(bytes), db);
}

TEST(Envelope, WrapsAnyBytesAndGivesThemBack) {
    std::vector<std::string> samples = {"",     "a",        "ab",           "abc",
                                        "\xff", "\xff\xff", "\xff\xff\xff", "\xff\xff\xff\xfe\xff"};
    std::string mixed;
    for (int i = 0; i < 3000; ++i)
        mixed.push_back(static_cast<char>((i * 7919) % 251 ^ (i >> 3)));
    samples.push_back(mixed);
    for (const std::string& bytes : samples) {
        SCOPED_TRACE(bytes.size());
        std::string expected = R"({"format":"Velmora","payload":")";
        Base64::append(expected, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                       true);
        expected += R"(","sha256":")" + Envelope::hex(Envelope::sha256(bytes)) + R"(","version":1})";
        const std::string wrapped = Envelope::wrap(bytes);
        EXPECT_EQ(wrapped, expected);
        EXPECT_EQ(Envelope::unwrap(wrapped), bytes);
    }
}

// The outcome of reading an envelope: its document bytes, or the kind and text of the failure. A
// text that is not JSON at all is only said to be unreadable: readers that follow the text in
// different ways meet different faults of it first.
std::string outcome(const std::function<std::string()>& unwrap) {
    try {
        return "document " + unwrap();
    } catch (const PCError& error) {
        return "refused " + error.message();
    } catch (const JSONError& error) {
        return error.path().empty() ? "unreadable" : std::string("unreadable ") + error.what();
    }
}

TEST(Envelope, TheDirectReadingOfTheWrittenFormAgreesWithTheJSONReader) {
    // Any bytes will do; the last ones become escaped slashes in Base64.
    const std::string valid =
        Envelope::wrap(toJSON(makeDocument(DocumentShape::tiny(), 12)) + "\xff\xff\xff");
    const std::size_t payload = valid.find("payload\":\"") + 10;
    const std::size_t slash = valid.find("\\/");
    ASSERT_NE(slash, std::string::npos);
    std::vector<std::size_t> positions = {0, payload - 1, payload, payload + 1, slash, slash + 1, slash + 2};
    for (std::size_t at = valid.size() - 90; at < valid.size(); ++at)
        positions.push_back(at);
    for (std::size_t at = payload; at < valid.size(); at += 97)
        positions.push_back(at);
    const std::string replacements = {'A', '/', '\\', '"', '=', 'a', '0', 'x', '\x01', ' ', '\0', '\xff'};
    for (const std::size_t at : positions) {
        for (const char replacement : replacements) {
            std::string changed = valid;
            changed[at] = replacement;
            SCOPED_TRACE(std::to_string(at) + " " + replacement);
            EXPECT_EQ(outcome([&] { return Envelope::unwrap(changed); }),
                      outcome([&] { return Envelope::unwrapJSON(changed); }));
        }
        std::string shorter = valid;
        shorter.erase(at, 1);
        EXPECT_EQ(outcome([&] { return Envelope::unwrap(shorter); }),
                  outcome([&] { return Envelope::unwrapJSON(shorter); }));
    }
    EXPECT_EQ(outcome([&] { return Envelope::unwrap(valid + "\n"); }),
              outcome([&] { return Envelope::unwrap(valid); }));
}

TEST(RepositoryDirectory, CreatesMissingDirectoriesPrivateAndLeavesExistingOnesAlone) {
    TemporaryDirectory temporary;
    ::chmod(temporary.path().c_str(), 0755);
    const fs::path nested = temporary.path() / "a" / "b" / "Velmora";
    Repository repository(nested, false);
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_EQ(modeOf(temporary.path() / "a"), 0700u);
    EXPECT_EQ(modeOf(nested), 0700u);
    EXPECT_EQ(modeOf(temporary.path()), 0755u);
    EXPECT_FALSE(fs::exists(nested / ".lock")) << "no lock file without the lock";

    // A path below a regular file cannot be created.
    writeFile(temporary.path() / "file", "x");
    EXPECT_THROW(Repository(temporary.path() / "file" / "Velmora", true), fs::filesystem_error);
}

// Runs the lock probe in another process: 0 opened, 3 refused with the instance message.
int probe(const fs::path& directory) {
    pid_t pid = 0;
    const char* argv[] = {VELMORA_LOCK_PROBE, "try", directory.c_str(), nullptr};
    if (::posix_spawn(&pid, VELMORA_LOCK_PROBE, nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(RepositoryLock, KeepsASecondRepositoryAwayUntilTheFirstIsDestroyed) {
    TemporaryDirectory temporary;
    {
        Repository first(temporary.path(), true);
        try {
            Repository second(temporary.path(), true);
            ADD_FAILURE() << "a second repository opened the locked directory";
        } catch (const PCError& error) {
            EXPECT_EQ(error.message(), instanceMessage);
        }
        EXPECT_NO_THROW(Repository(temporary.path(), false));
        EXPECT_EQ(probe(temporary.path()), 3);
    }
    EXPECT_EQ(probe(temporary.path()), 0);
    EXPECT_NO_THROW(Repository(temporary.path(), true));
}

TEST(RepositoryLock, IsReleasedWhenTheHoldingProcessIsKilled) {
    TemporaryDirectory temporary;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, ready[0]);
    pid_t holder = 0;
    const char* argv[] = {VELMORA_LOCK_PROBE, "hold", temporary.path().c_str(), nullptr};
    ASSERT_EQ(
        ::posix_spawn(&holder, VELMORA_LOCK_PROBE, &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ready[1]);
    char line[6] = {};
    const ssize_t got = ::read(ready[0], line, sizeof line);
    ::close(ready[0]);
    ASSERT_EQ(std::string(line, got > 0 ? std::size_t(got) : 0), "ready\n");

    EXPECT_EQ(probe(temporary.path()), 3);
    EXPECT_THROW(Repository(temporary.path(), true), PCError);

    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
    Repository repository(temporary.path(), true);
    EXPECT_EQ(probe(temporary.path()), 3) << "and now this process holds it";
}

// A stored file that this system cannot read: load refuses it, and a save refuses to replace it.
struct HostileFile {
    const char* name;
    std::function<std::string(const std::string& valid)> bytes;
    std::optional<std::string> message; // none: a JSON failure
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::logic_error("nothing to replace: " + from);
    return text.replace(at, from.size(), to);
}

std::string envelopeOf(const std::string& document) {
    return Envelope::wrap(document);
}

Database tinyWith(const std::function<void(Database&)>& change) {
    Database db = makeDocument(DocumentShape::tiny(), 5);
    change(db);
    return db;
}

const HostileFile hostileFiles[] = {
    {"one payload byte changed",
     [](const std::string& valid) {
         std::string bytes = valid;
         const std::size_t at = bytes.find("payload\":\"") + 40;
         bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
         return bytes;
     },
     integrityMessage},
    {"digest in upper case",
     [](const std::string& valid) {
         std::string bytes = valid;
         const std::size_t at = bytes.find("sha256\":\"") + 9;
         for (std::size_t i = at; i < at + 64; ++i)
             bytes[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(bytes[i])));
         return bytes;
     },
     integrityMessage},
    {"envelope version 2",
     [](const std::string& valid) { return replaced(valid, "\"version\":1}", "\"version\":2}"); },
     "Formato de datos no compatible (2). Actualiza Velmora; los datos originales se conservan."},
    {"envelope version 0",
     [](const std::string& valid) { return replaced(valid, "\"version\":1}", "\"version\":0}"); },
     integrityMessage},
    {"a spaced envelope whose digest does not match",
     [](const std::string& valid) {
         std::string bytes = replaced(valid, "{", "{ ");
         const std::size_t at = bytes.find("payload\":\"") + 40;
         bytes[at] = bytes[at] == 'A' ? 'B' : 'A';
         return bytes;
     },
     integrityMessage},
    {"another format", [](const std::string& valid) { return replaced(valid, "\"Velmora\"", "\"Velmorb\""); },
     integrityMessage},
    {"truncated", [](const std::string& valid) { return valid.substr(0, valid.size() / 2); }, std::nullopt},
    {"empty", [](const std::string&) { return std::string(); }, std::nullopt},
    {"garbage", [](const std::string&) { return std::string("\x01\xff garbage \x80\x00 ", 15); },
     std::nullopt},
    {"a JSON array", [](const std::string&) { return std::string("[1,2,3]"); }, std::nullopt},
    {"no digest", [](const std::string& valid) { return replaced(valid, "\"sha256\"", "\"sha257\""); },
     std::nullopt},
    {"version as text",
     [](const std::string& valid) { return replaced(valid, "\"version\":1}", "\"version\":\"1\"}"); },
     std::nullopt},
    {"payload not Base64",
     [](const std::string& valid) { return replaced(valid, "\"payload\":\"", "\"payload\":\"*"); },
     std::nullopt},
    {"payload not JSON", [](const std::string&) { return envelopeOf("{\"categories\":"); }, std::nullopt},
    {"payload lacking a required key", [](const std::string&) { return envelopeOf("{}"); }, std::nullopt},
    {"schemaVersion 2",
     [](const std::string&) {
         return envelopeOf(toJSON(tinyWith([](Database& db) { db.schemaVersion = 2; })));
     },
     "Formato de datos no compatible (2). Actualiza Velmora; los datos originales se conservan."},
    {"an inconsistent document",
     [](const std::string&) { return envelopeOf(toJSON(tinyWith([](Database& db) { db.nextNumber = 0; }))); },
     inconsistentMessage},
};

TEST_F(RepositoryFiles, AFileThisSystemCannotReadIsRefusedAndNeverReplaced) {
    const Database stored = makeDocument(DocumentShape::tiny(), 6);
    const Database next = makeDocument(DocumentShape::tiny(), 7);
    for (const HostileFile& hostile : hostileFiles) {
        SCOPED_TRACE(hostile.name);
        fs::remove(json());
        fs::remove(previous());
        // The repository that wrote the valid file is the one that meets the hostile file.
        Repository repository(dir(), true);
        repository.save(stored);
        repository.save(stored);
        const std::string previousBytes = readFile(previous());
        const std::string bytes = hostile.bytes(readFile(json()));
        writeFile(json(), bytes);

        expectRefused([&] { repository.load(); }, hostile.message);
        expectRefused([&] { Repository::decode(bytes); }, hostile.message);
        expectRefused([&] { repository.save(next); }, hostile.message);
        expectRefused([&] { repository.save(next); }, hostile.message);
        EXPECT_EQ(readFile(json()), bytes);
        EXPECT_EQ(readFile(previous()), previousBytes);
        EXPECT_EQ(namesIn(dir()), (std::set<std::string>{".lock", "Velmora.json", "Velmora.previous.json"}));
    }
}

TEST_F(RepositoryFiles, ADocumentFailingValidationIsNeitherSavedNorEncoded) {
    Repository repository(dir(), true);
    const Database stored = makeDocument(DocumentShape::tiny(), 8);
    repository.save(stored);
    const std::string before = readFile(json());
    const Database broken = tinyWith([](Database& db) { db.categories.clear(); });
    expectRefused([&] { repository.save(broken); }, inconsistentMessage);
    expectRefused([&] { Repository::encode(broken); }, inconsistentMessage);
    EXPECT_EQ(readFile(json()), before);
    EXPECT_EQ(namesIn(dir()), (std::set<std::string>{".lock", "Velmora.json"}));
}

TEST_F(RepositoryFiles, AFullDiskFailsTheSaveWithTheSystemErrorAndKeepsTheFile) {
    {
        Repository repository(dir(), false);
        repository.save(makeDocument(DocumentShape::tiny(), 1));
        repository.save(makeDocument(DocumentShape::tiny(), 2));
    }
    const std::string before = readFile(json());
    const Database larger = makeDocument(DocumentShape::small(), 3);
    ASSERT_GT(Repository::encode(larger).size(), before.size() + 4096);

    // The file size limit stands in for a full disk: writing beyond it fails with EFBIG.
    const int status = inChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = before.size() + 1024;
        const rlimit fileSize{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) return 10;
        Repository repository(dir(), true);
        try {
            repository.save(larger);
        } catch (const fs::filesystem_error& error) {
            return error.code() == std::errc::file_too_large ? 0 : 11;
        }
        return 12;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(json()), before);
    // The previous copy was made before the failed write: it holds the unchanged file.
    EXPECT_EQ(readFile(previous()), before);
    EXPECT_EQ(namesIn(dir()), (std::set<std::string>{".lock", "Velmora.json", "Velmora.previous.json"}));
    EXPECT_EQ(Repository(dir(), true).load(), makeDocument(DocumentShape::tiny(), 2));
}

TEST_F(RepositoryFiles, ADirectoryThatCannotBeWrittenFailsTheSaveAndKeepsTheFiles) {
    {
        Repository repository(dir(), false);
        repository.save(makeDocument(DocumentShape::tiny(), 1));
        repository.save(makeDocument(DocumentShape::tiny(), 2));
    }
    const std::string before = readFile(json());
    const std::string previousBefore = readFile(previous());
    // Root ignores permission bits, so the child gives up its privileges first.
    const bool root = ::geteuid() == 0;
    ::chmod(dir().c_str(), root ? 0755 : 0555);
    ::chmod(json().c_str(), 0644);
    const int status = inChild([&] {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 10;
        Repository repository(dir(), false);
        if (repository.load() != makeDocument(DocumentShape::tiny(), 2)) return 11;
        try {
            repository.save(makeDocument(DocumentShape::tiny(), 3));
        } catch (const fs::filesystem_error& error) {
            return error.code() == std::errc::permission_denied ? 0 : 12;
        }
        return 13;
    });
    ::chmod(dir().c_str(), 0700);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(json()), before);
    EXPECT_EQ(readFile(previous()), previousBefore);
    EXPECT_EQ(namesIn(dir()), (std::set<std::string>{"Velmora.json", "Velmora.previous.json"}));
}

TEST(DataDirectory, TheEnvironmentVariableWinsOverTheUsersDataHome) {
    ScopedVariable home("HOME", "/home/ana");
    {
        ScopedVariable data("VELMORA_DATA_DIR", "/srv/pizzeria");
        ScopedVariable xdg("XDG_DATA_HOME", "/home/ana/datos");
        EXPECT_EQ(dataDirectory(), fs::path("/srv/pizzeria"));
    }
    ScopedVariable empty("VELMORA_DATA_DIR", "");
    {
        ScopedVariable xdg("XDG_DATA_HOME", "/home/ana/datos");
        EXPECT_EQ(dataDirectory(), fs::path("/home/ana/datos/Velmora"));
    }
    {
        ScopedVariable xdg("XDG_DATA_HOME", "relativa");
        EXPECT_EQ(dataDirectory(), fs::path("/home/ana/.local/share/Velmora"));
    }
    ScopedVariable xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(dataDirectory(), fs::path("/home/ana/.local/share/Velmora"));
}

} // namespace
