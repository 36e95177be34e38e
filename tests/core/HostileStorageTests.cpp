// The storage against what an attacker or an unlucky user puts in its way: pipes, devices and
// folders where files should be, links where the lock should be, documents whose text the writer
// could not keep as it is, names left behind by a save that failed half way, and huge files of
// garbage chosen as backups. Everything that could block or eat memory runs in a child process
// with a time limit and a memory limit, so that a regression fails instead of hanging the suite.

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/DocumentLeaves.hpp>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::writeFile;

const std::string instanceMessage = "Velmora ya está abierto con estos datos. Usa una sola instancia.";
const std::string integrityMessage =
    "La copia no es válida o su integridad no coincide. No se han sustituido los datos.";
const std::string unwritableMessage = "Un texto de los datos no es UTF-8 válido y no se puede guardar sin "
                                      "cambiarlo. No se ha guardado nada.";

std::string notRegular(const fs::path& path) {
    return "«" + path.string() +
           "» no es un archivo normal (es una carpeta, una tubería, un dispositivo o un socket). No se ha "
           "leído ni sustituido nada.";
}

// What a directory holds, without opening anything that could block: each entry's kind, and the
// bytes of regular files or the target of links.
std::map<std::string, std::string> listing(const fs::path& directory) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const fs::path path = entry.path();
        const fs::file_status status = fs::symlink_status(path);
        std::string description;
        if (fs::is_symlink(status))
            description = "link to " + fs::read_symlink(path).string();
        else if (fs::is_regular_file(status))
            description = "file " + readFile(path);
        else
            description = "kind " + std::to_string(static_cast<int>(status.type()));
        entries[path.filename().string()] = description;
    }
    return entries;
}

// The resident size this process has reached at most, in bytes.
long peakResidentBytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024L;
}

long currentResidentBytes() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Runs `check` in a forked child that is killed after `seconds` and may not grow its data by
// more than `extraMemory` bytes. Gives the child's exit code: `check`'s result, 101 when it threw,
// -1 when it was killed.
int inLimitedChild(unsigned seconds, rlim_t extraMemory, const std::function<int()>& check) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(seconds);
        rlimit data{};
        if (::getrlimit(RLIMIT_DATA, &data) == 0) {
            // The limit counts what the process already has mapped for data.
            long size = 0;
            if (FILE* status = std::fopen("/proc/self/status", "r")) {
                char line[256];
                while (std::fgets(line, sizeof line, status))
                    if (std::sscanf(line, "VmData: %ld kB", &size) == 1) break;
                std::fclose(status);
            }
            data.rlim_cur = static_cast<rlim_t>(size) * 1024 + extraMemory;
            ::setrlimit(RLIMIT_DATA, &data);
        }
        int code = 100;
        try {
            code = check();
        } catch (...) {
            code = 101;
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 0 when `call` fails with a PCError carrying `message`; otherwise a code saying what happened.
int refusedWith(const std::function<void()>& call, const std::string& message) {
    try {
        call();
    } catch (const PCError& error) {
        if (error.message() == message) return 0;
        std::fprintf(stderr, "other message: %s\n", error.message().c_str());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "other failure: %s\n", error.what());
        return 3;
    }
    return 1;
}

class HostileStorage : public ::testing::Test {
protected:
    fs::path dir() const { return data.path() / "datos"; }
    fs::path json() const { return dir() / "Velmora.json"; }

    TemporaryDirectory data;
    TemporaryDirectory elsewhere;
};

// What stands where "Velmora.json" should be.
struct NotAFile {
    const char* name;
    std::function<void(const fs::path&)> make;
};

const NotAFile notFiles[] = {
    {"a named pipe", [](const fs::path& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }},
    {"a link to /dev/zero", [](const fs::path& path) { fs::create_symlink("/dev/zero", path); }},
    {"a link to a named pipe elsewhere",
     [](const fs::path& path) {
         const fs::path pipe = path.parent_path().parent_path() / "tuberia";
         ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
         fs::create_symlink(pipe, path);
     }},
    {"a folder", [](const fs::path& path) { fs::create_directory(path); }},
};

TEST_F(HostileStorage, ADataFileThatIsNotARegularFileIsRefusedAtOnceAndLeftAlone) {
    for (const NotAFile& notFile : notFiles) {
        SCOPED_TRACE(notFile.name);
        fs::remove_all(data.path());
        fs::create_directories(dir());
        notFile.make(json());
        const auto before = listing(dir());
        const int status = inLimitedChild(10, 256 << 20, [&] {
            Repository repository(dir(), true);
            const auto load = [&] { repository.load(); };
            const auto save = [&] { repository.save(makeDocument(DocumentShape::tiny(), 1)); };
            if (const int code = refusedWith(load, notRegular(json()))) return 10 + code;
            if (const int code = refusedWith(save, notRegular(json()))) return 20 + code;
            return 0;
        });
        EXPECT_EQ(status, 0);
        auto after = listing(dir());
        after.erase(".lock");
        EXPECT_EQ(after, before);
    }
}

TEST_F(HostileStorage, ABackupThatIsNotARegularFileIsRefusedBeforeAnythingIsWritten) {
    const fs::path pipe = elsewhere.path() / "copia.velmorabackup";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const fs::path folder = elsewhere.path() / "carpeta.velmorabackup";
    fs::create_directory(folder);
    const fs::path link = elsewhere.path() / "cero.velmorabackup";
    fs::create_symlink("/dev/zero", link);
    {
        Repository repository(dir(), false);
        repository.save(makeDocument(DocumentShape::tiny(), 2));
    }
    const auto before = listing(dir());
    for (const fs::path& chosen : {pipe, folder, link, fs::path("/dev/zero")}) {
        SCOPED_TRACE(chosen);
        const int status = inLimitedChild(10, 256 << 20, [&] {
            Repository repository(dir(), true);
            const Database current = repository.load();
            return refusedWith([&] { repository.restore(chosen, current); }, notRegular(chosen));
        });
        EXPECT_EQ(status, 0);
        auto after = listing(dir());
        after.erase(".lock");
        EXPECT_EQ(after, before);
    }

    // Nor is a backup written over a pipe or a folder: the write would replace it.
    const int status = inLimitedChild(10, 256 << 20, [&] {
        Repository repository(dir(), true);
        const Database current = repository.load();
        if (const int code = refusedWith([&] { repository.exportTo(current, pipe); }, notRegular(pipe)))
            return 10 + code;
        return refusedWith([&] { repository.exportTo(current, folder); }, notRegular(folder));
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(HostileStorage, ALinkWhereTheLockShouldBeIsRefusedAndNothingIsCreatedElsewhere) {
    const fs::path target = elsewhere.path() / "creado-por-velmora";
    const fs::path existing = elsewhere.path() / "existente";
    writeFile(existing, "no es un candado");
    const fs::path pipe = elsewhere.path() / "tuberia";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"dangling link", [&] { fs::create_symlink(target, dir() / ".lock"); }},
        {"link to a file", [&] { fs::create_symlink(existing, dir() / ".lock"); }},
        {"named pipe", [&] { ASSERT_EQ(::mkfifo((dir() / ".lock").c_str(), 0600), 0); }},
        {"link to a named pipe", [&] { fs::create_symlink(pipe, dir() / ".lock"); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(dir());
        fs::create_directories(dir());
        make();
        const auto before = listing(dir());
        const auto elsewhereBefore = listing(elsewhere.path());
        const int status = inLimitedChild(10, 256 << 20, [&] {
            return refusedWith([&] { Repository repository(dir(), true); }, instanceMessage);
        });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(listing(dir()), before);
        EXPECT_EQ(listing(elsewhere.path()), elsewhereBefore);
        EXPECT_FALSE(fs::exists(target));
    }
}

TEST_F(HostileStorage, ASaveAfterAFailedFinalWriteLeavesNoTemporaryFileBehind) {
    {
        Repository repository(dir(), false);
        repository.save(makeDocument(DocumentShape::tiny(), 1));
    }
    const std::string before = readFile(json());
    // A full disk (the file size limit) fails the final write after the previous copy was made:
    // the data file and the previous copy are then the same file under two names.
    const int failed = inLimitedChild(20, rlim_t(1) << 30, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit fileSize{before.size() + 512, before.size() + 512};
        if (::setrlimit(RLIMIT_FSIZE, &fileSize) != 0) return 10;
        Repository repository(dir(), true);
        try {
            repository.save(makeDocument(DocumentShape::small(), 2));
        } catch (const fs::filesystem_error&) {
            return 0;
        }
        return 11;
    });
    ASSERT_EQ(failed, 0);

    Repository repository(dir(), true);
    const Database next = makeDocument(DocumentShape::tiny(), 3);
    repository.save(next);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{".lock", "Velmora.json", "Velmora.previous.json"}));
    EXPECT_EQ(readFile(dir() / "Velmora.previous.json"), before);
    EXPECT_EQ(repository.load(), next);
}

// Changes one payload character of the file in place, keeping its size; optionally puts its
// modification time back as it was.
void changeInPlace(const fs::path& path, bool restoreTime) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    const std::string bytes = readFile(path);
    const std::size_t at = bytes.find("payload\":\"") + 40;
    const char replacement = bytes[at] == 'A' ? 'B' : 'A';
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, &replacement, 1, static_cast<off_t>(at)), 1);
    if (restoreTime) {
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::futimens(fd, times), 0);
    }
    ::close(fd);
}

TEST_F(HostileStorage, AStoredFileChangedBehindTheRepositorysBackIsCheckedEvenAtTheSameSize) {
    for (const bool afterLoad : {false, true})
        for (const bool restoreTime : {false, true}) {
            SCOPED_TRACE(std::string(afterLoad ? "after a load" : "after a save") +
                         (restoreTime ? ", time put back" : ""));
            fs::remove_all(dir());
            {
                Repository writer(dir(), false);
                writer.save(makeDocument(DocumentShape::tiny(), 11));
                writer.save(makeDocument(DocumentShape::tiny(), 12));
            }
            Repository repository(dir(), true);
            if (afterLoad)
                repository.load();
            else
                repository.save(makeDocument(DocumentShape::tiny(), 13));
            // At once, within the same tick of the system's clock if it can.
            changeInPlace(json(), restoreTime);
            const auto before = listing(dir());
            EXPECT_EQ(refusedWith([&] { repository.save(makeDocument(DocumentShape::tiny(), 14)); },
                                  integrityMessage),
                      0);
            EXPECT_EQ(listing(dir()), before);
        }
}

TEST_F(HostileStorage, TextTheWriterWouldAlterIsRefusedSoNoUnreadableFileIsEverWritten) {
    // Two identifiers that differ only in bytes that are not UTF-8 would both be written as
    // U+FFFD: a file with a duplicate identifier, which no load accepts, and which the next save
    // would have moved into the previous copy.
    Database db = makeDocument(DocumentShape::tiny(), 4);
    db.categories.push_back(Category{"cat\xff", "Uno", false});
    db.categories.push_back(Category{"cat\xfe", "Dos", true});
    ASSERT_NO_THROW(Repository::validate(db));

    Repository repository(dir(), true);
    const Database stored = makeDocument(DocumentShape::tiny(), 5);
    repository.save(stored);
    const auto before = listing(dir());
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(refusedWith([&] { repository.save(db); }, unwritableMessage), 0);
        EXPECT_EQ(listing(dir()), before);
    }
    EXPECT_EQ(refusedWith([&] { Repository::encode(db); }, unwritableMessage), 0);
    EXPECT_EQ(refusedWith([&] { repository.exportTo(db, elsewhere.path() / "copia.velmorabackup"); },
                          unwritableMessage),
              0);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_EQ(repository.load(), stored);
}

// Hostile values for each kind of stored value.
const std::vector<std::string> hostileTexts = {
    std::string("\xff"),
    std::string("cat\xfe"),
    std::string("\xed\xa0\x80"),     // a lone high surrogate written as UTF-8
    std::string("\xed\xbf\xbf z"),   // a lone low surrogate
    std::string("\xc0\xaf"),         // an overlong "/"
    std::string("\xf4\x90\x80\x80"), // beyond U+10FFFF
    std::string("\xe2\x82"),         // cut short
    std::string("a\0b", 3),
    std::string("\x01\x1f\x7f\n\t\"\\/"),
    std::string("\xef\xbf\xbd"), // U+FFFD itself is fine
    std::string(),
    std::string(" \u2028 "),
};
const std::vector<std::int64_t> hostileIntegers = {std::numeric_limits<std::int64_t>::min(),
                                                   std::numeric_limits<std::int64_t>::max(),
                                                   -1,
                                                   0,
                                                   99'999'999,
                                                   100'000'000};
const std::vector<double> hostileInstants = {
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::max(),
    std::numeric_limits<double>::lowest(),
    std::numeric_limits<double>::denorm_min(),
    -0.0,
    1e18,
    123456789012345678.0,
    9007199254740993.0,
};

TEST(HostileDocuments, WhateverEncodeAcceptsDecodesToAnEqualDocument) {
    std::vector<Database> bases = {makeDocument(DocumentShape::tiny(), 6)};
    DocumentShape awkward = DocumentShape::tiny();
    awkward.awkwardText = true;
    bases.push_back(makeDocument(awkward, 7));
    std::size_t checked = 0;
    for (const Database& base : bases) {
        Database probe = base;
        const std::size_t leafCount = pizzacore::testing::leavesOf(probe, true).size();
        ASSERT_GT(leafCount, 50u);
        for (std::size_t index = 0; index < leafCount; ++index) {
            const auto tryValue = [&](const auto& assign) {
                Database db = base;
                assign(pizzacore::testing::leavesOf(db, true)[index]);
                if (const auto fault = pizzacore::testing::encodeBreaksRoundTrip(db))
                    ADD_FAILURE() << "leaf " << index << ": " << *fault;
                ++checked;
            };
            const auto kind = pizzacore::testing::leavesOf(probe, true)[index].index();
            if (kind == 0)
                for (const std::string& text : hostileTexts)
                    tryValue([&](pizzacore::testing::Leaf leaf) { *std::get<std::string*>(leaf) = text; });
            else if (kind == 1)
                for (const std::int64_t value : hostileIntegers)
                    tryValue([&](pizzacore::testing::Leaf leaf) { *std::get<std::int64_t*>(leaf) = value; });
            else if (kind == 2)
                for (const double value : hostileInstants)
                    tryValue(
                        [&](pizzacore::testing::Leaf leaf) { std::get<Instant*>(leaf)->seconds = value; });
            else
                tryValue(
                    [&](pizzacore::testing::Leaf leaf) { *std::get<bool*>(leaf) = !*std::get<bool*>(leaf); });
        }
    }
    EXPECT_GT(checked, 1000u);
}

// A file of `size` bytes whose first bytes are `start` and the rest a hole: no disk is spent.
void sparseFile(const fs::path& path, std::string_view start, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, start.data(), start.size()), static_cast<ssize_t>(start.size()));
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

TEST_F(HostileStorage, AHugeFileThatIsNotABackupIsRefusedWithLittleMemory) {
    {
        Repository repository(dir(), false);
        repository.save(makeDocument(DocumentShape::tiny(), 8));
    }
    std::mt19937_64 random(8);
    std::string garbage(1 << 20, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    garbage[0] = '{';
    sparseFile(elsewhere.path() / "basura.velmorabackup", garbage, off_t(2) << 30);
    sparseFile(elsewhere.path() / "ceros.velmorabackup", "", off_t(2) << 30);
    // The written form with a payload of 48 MB whose digest does not match.
    {
        std::ofstream out(elsewhere.path() / "resumen.velmorabackup", std::ios::binary);
        out << R"({"format":"Velmora","payload":")";
        const std::string block(1 << 20, 'A');
        for (int i = 0; i < 64; ++i)
            out << block;
        out << R"(","sha256":")" << std::string(64, '0') << R"(","version":1})";
    }
    const auto before = listing(dir());
    for (const char* name : {"basura.velmorabackup", "ceros.velmorabackup", "resumen.velmorabackup"}) {
        SCOPED_TRACE(name);
        const fs::path chosen = elsewhere.path() / name;
        const int status = inLimitedChild(60, rlim_t(1) << 30, [&] {
            Repository repository(dir(), true);
            const Database current = repository.load();
            const long start = currentResidentBytes();
            if (const int code = refusedWith([&] { repository.restore(chosen, current); }, integrityMessage))
                return code;
            const long growth = peakResidentBytes() - start;
            std::fprintf(stderr, "%s: peak growth %ld MB\n", name, growth >> 20);
            return growth <= (32L << 20) ? 0 : 9;
        });
        EXPECT_EQ(status, 0);
        auto after = listing(dir());
        after.erase(".lock");
        EXPECT_EQ(after, before);
    }
}

// A file of about `size` bytes: `start`, `fill` repeated, then `end`.
void largeFile(const fs::path& path, const std::string& start, const std::string& fill, std::size_t size,
               const std::string& end) {
    std::string block;
    while (block.size() < (std::size_t(1) << 20))
        block += fill;
    std::ofstream out(path, std::ios::binary);
    out << start;
    for (std::size_t written = start.size(); written + block.size() <= size; written += block.size())
        out << block;
    out << end;
}

// 0 when `call` fails with a refusal of the core (PCError or JSONError).
int refusedAtAll(const std::function<void()>& call) {
    try {
        call();
    } catch (const PCError&) {
        return 0;
    } catch (const JSONError&) {
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "other failure: %s\n", error.what());
        return 3;
    }
    return 1;
}

TEST_F(HostileStorage, ALargeFileOfJSONThatIsNoEnvelopeCostsLittleMemory) {
    {
        Repository repository(dir(), false);
        repository.save(makeDocument(DocumentShape::tiny(), 8));
    }
    // Text that starts like a backup and stays valid UTF-8 and valid JSON for most of its length.
    const std::string zeros(64, '0');
    const std::vector<std::array<std::string, 4>> files = {
        {"carga", "{\"payload\":\"", "AAAA", "\"}"},
        {"espaciada", "{ \"format\": \"Velmora\", \"payload\": \"", "AAAA",
         "\", \"sha256\": \"" + zeros + "\", \"version\": 1 }"},
        {"lista", "{\"format\":\"Velmora\",\"lista\":[", "12345678,",
         "0],\"payload\":\"\",\"sha256\":\"" + zeros + "\",\"version\":1}"},
        {"abierta", "{\"nota\":\"", "ñ", ""},
    };
    const auto before = listing(dir());
    const fs::path folder = elsewhere.path() / "carpeta";
    for (const auto& [name, start, fill, end] : files) {
        SCOPED_TRACE(name);
        const fs::path chosen = elsewhere.path() / (name + ".velmorabackup");
        largeFile(chosen, start, fill, std::size_t(64) << 20, end);
        // The same file as the data file of another folder.
        fs::remove_all(folder);
        fs::create_directory(folder);
        fs::create_hard_link(chosen, folder / "Velmora.json");
        const int status = inLimitedChild(120, rlim_t(256) << 20, [&] {
            Repository repository(dir(), true);
            const Database current = repository.load();
            const long first = currentResidentBytes();
            if (const int code = refusedWith([&] { repository.restore(chosen, current); }, integrityMessage))
                return code;
            if (const int code = refusedAtAll([&] { Repository(folder, false).load(); })) return 10 + code;
            const long growth = peakResidentBytes() - first;
            std::fprintf(stderr, "%s: peak growth %ld MB\n", name.c_str(), growth >> 20);
            return growth <= (32L << 20) ? 0 : 9;
        });
        EXPECT_EQ(status, 0);
        auto after = listing(dir());
        after.erase(".lock");
        EXPECT_EQ(after, before);
        fs::remove(chosen);
    }
}

TEST_F(HostileStorage, AGenuineBackupInAnyFormCostsAtMostTwiceItsSize) {
    DocumentShape shape = DocumentShape::small();
    shape.products = 8;
    shape.imageBytes = 1'900'000;
    const Database document = makeDocument(shape, 21);
    const std::string written = Repository::encode(document);
    // The same envelope as another program may write it: spaced, keys in another order, slashes
    // unescaped.
    const std::size_t start = written.find("\"payload\":\"") + 11;
    std::string payload = written.substr(start, written.find('"', start) - start);
    std::erase(payload, '\\');
    const std::string digest = written.substr(written.find("\"sha256\":\"") + 10, 64);
    const std::string loose = "{\n  \"version\": 1,\n  \"sha256\": \"" + digest + "\",\n  \"payload\": \"" +
                              payload + "\",\n  \"format\": \"Velmora\"\n}\n";
    for (const auto& [name, bytes] : {std::pair{"escrita", &written}, std::pair{"suelta", &loose}}) {
        SCOPED_TRACE(name);
        const fs::path file = elsewhere.path() / (std::string(name) + ".velmorabackup");
        writeFile(file, *bytes);
        fs::remove_all(dir());
        const int status = inLimitedChild(120, rlim_t(1) << 30, [&] {
            Repository repository(dir(), true);
            const Database current = repository.load();
            const long first = currentResidentBytes();
            Database restored = repository.restore(file, current);
            const long growth = peakResidentBytes() - first;
            std::fprintf(stderr, "%s: %zu MB, peak growth %ld MB\n", name, bytes->size() >> 20, growth >> 20);
            restored.audit.erase(restored.audit.end() - 1);
            if (!(restored == document)) return 8;
#if !defined(__SANITIZE_ADDRESS__)
            // The sanitizer keeps freed memory aside for a while, so only a plain build measures.
            if (growth > 2 * static_cast<long>(bytes->size())) return 9;
#endif
            return 0;
        });
        EXPECT_EQ(status, 0);
    }
}

TEST_F(HostileStorage, AFileReadInPiecesAgreesWithTheReadingInMemory) {
    // Large enough for several pieces, with escaped slashes falling on the pieces' edges.
    DocumentShape shape = DocumentShape::small();
    shape.imageBytes = 400'000;
    shape.products = 8;
    const Database document = makeDocument(shape, 9);
    const std::string valid = Repository::encode(document);
    ASSERT_GT(valid.size(), std::size_t(3) << 20);
    const fs::path file = elsewhere.path() / "copia.velmorabackup";

    const auto outcome = [](const std::function<std::string()>& read) -> std::string {
        try {
            return "document " + Envelope::hex(Envelope::sha256(read()));
        } catch (const PCError& error) {
            return "refused " + error.message();
        } catch (const JSONError& error) {
            return std::string("unreadable ") + error.what();
        }
    };
    const auto fromFile = [&](const std::string& bytes) {
        writeFile(file, bytes);
        const int fd = ::open(file.c_str(), O_RDONLY);
        const std::string result = outcome([&] { return Envelope::read(fd, file); });
        ::close(fd);
        return result;
    };
    const auto inMemory = [&](const std::string& bytes) {
        return outcome([&] { return Envelope::unwrap(bytes); });
    };

    EXPECT_EQ(fromFile(valid), "document " + Envelope::hex(Envelope::sha256(toJSON(document))));
    std::vector<std::size_t> positions = {
        0, 1, 30, 31, 32, valid.size() - 1, valid.size() - 20, valid.size() - 80};
    for (std::size_t at = (std::size_t(1) << 20) - 3; at < (std::size_t(1) << 20) + 3; ++at)
        positions.push_back(at);
    for (std::size_t at = 100; at < valid.size(); at += valid.size() / 7)
        positions.push_back(at);
    for (const std::size_t at : positions)
        for (const char replacement : {'B', '/', '\\', '"', '=', '\xff', ' ', '{'}) {
            std::string changed = valid;
            changed[at] = replacement;
            if (changed == valid) continue;
            SCOPED_TRACE(std::to_string(at) + " " + replacement);
            EXPECT_EQ(fromFile(changed), inMemory(changed));
        }
    // A changed payload character is caught by the digest.
    std::string changed = valid;
    changed[valid.size() / 2] = changed[valid.size() / 2] == 'A' ? 'B' : 'A';
    EXPECT_EQ(fromFile(changed), "refused " + integrityMessage);
    for (const std::string bytes : {" \n", "", "[1]"})
        EXPECT_EQ(fromFile(bytes), inMemory(bytes));

    // And a large genuine backup still restores.
    Repository repository(dir(), true);
    const Database current = makeDocument(DocumentShape::tiny(), 10);
    repository.save(current);
    writeFile(file, valid);
    Database restored = repository.restore(file, current);
    ASSERT_FALSE(restored.audit.empty());
    restored.audit.erase(restored.audit.end() - 1);
    restored.nextNumber = document.nextNumber;
    EXPECT_EQ(restored, document);
}

} // namespace
