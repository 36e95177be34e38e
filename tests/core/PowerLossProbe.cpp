// A program that writes into a folder step by step and then dies at once, for the tests of the
// power-loss shim: they run it with the shim and look at what the folder holds after the cut.
//
//     PowerLossProbe <folder> <step>...
//
// Steps, in order:
//   save:<seed>           Repository::save of the tiny synthetic document of that seed
//   careless-save:<seed>  the same document's envelope written to a temporary file, renamed over
//                         "Velmora.json" and the folder flushed, but the file itself never flushed
//   write:<name>=<text>   the file created or truncated and written, not flushed
//   flush:<name>          fsync of the file
//   flush-folder          fsync of the folder
//   flush-outside         a file beside the folder written and flushed, and the folder's parent
//                         flushed: outside what the shim watches, but it commits the file system's
//                         own journal, which frees the inodes of removed files for reuse
//   rename:<from>=<to>    rename within the folder
//   remove:<name>         unlink
//   sqlite:<sync>:<rows>  "test.db" opened with SQLite in WAL mode with PRAGMA synchronous=<sync>,
//                         and <rows> rows inserted into table t, one transaction each
// After the last step it writes "done\n" to its standard output and kills itself, so that nothing
// is closed or flushed on the way out. Any failure ends it with status 1 and a message on standard
// error.

#include <PizzaCore/Persistence/Repository.hpp>
#include <support/SyntheticDocument.hpp>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) fail("write");
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void writeFile(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) fail("open " + path.string());
    writeAll(fd, bytes);
    ::close(fd);
}

void flush(const fs::path& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) fail("open " + path.string());
    if (::fsync(fd) != 0) fail("fsync " + path.string());
    ::close(fd);
}

pizzacore::Database documentFor(std::uint64_t seed) {
    return pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::tiny(), seed);
}

std::pair<std::string, std::string> split(std::string_view text, char separator = '=') {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) throw std::invalid_argument("expected two parts: " + std::string(text));
    return {std::string(text.substr(0, at)), std::string(text.substr(at + 1))};
}

// Connections are left open on purpose: the process dies with them, as in a power cut.
void insertRows(const fs::path& folder, const std::string& synchronous, int rows) {
    sqlite3* db = nullptr;
    if (sqlite3_open((folder / "test.db").c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("sqlite3_open: " + std::string(sqlite3_errmsg(db)));
    const auto execute = [&](const std::string& statement) {
        if (sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(statement + ": " + sqlite3_errmsg(db));
    };
    execute("PRAGMA journal_mode=WAL");
    execute("PRAGMA synchronous=" + synchronous);
    execute("CREATE TABLE IF NOT EXISTS t(n INTEGER)");
    for (int row = 0; row < rows; ++row)
        execute("INSERT INTO t VALUES(" + std::to_string(row) + ")");
}

void run(const fs::path& folder, int count, char** steps) {
    std::unique_ptr<pizzacore::Repository> repository;
    for (int i = 0; i < count; ++i) {
        const std::string_view step = steps[i];
        const std::size_t colon = step.find(':');
        const std::string_view name = step.substr(0, colon);
        const std::string argument(colon == std::string_view::npos ? "" : step.substr(colon + 1));
        if (name == "save") {
            if (!repository) repository = std::make_unique<pizzacore::Repository>(folder, true);
            repository->save(documentFor(std::stoull(argument)));
        } else if (name == "careless-save") {
            const fs::path temporary = folder / ".careless.tmp";
            writeFile(temporary, pizzacore::Repository::encode(documentFor(std::stoull(argument))));
            if (::rename(temporary.c_str(), (folder / "Velmora.json").c_str()) != 0) fail("rename");
            flush(folder, O_RDONLY | O_DIRECTORY);
        } else if (name == "write") {
            const auto [file, text] = split(argument);
            writeFile(folder / file, text);
        } else if (name == "flush") {
            flush(folder / argument, O_RDONLY);
        } else if (name == "flush-folder") {
            flush(folder, O_RDONLY | O_DIRECTORY);
        } else if (name == "flush-outside") {
            const fs::path outside = folder.parent_path() / "outside";
            writeFile(outside, "outside");
            flush(outside, O_RDONLY);
            flush(folder.parent_path(), O_RDONLY | O_DIRECTORY);
        } else if (name == "rename") {
            const auto [from, to] = split(argument);
            if (::rename((folder / from).c_str(), (folder / to).c_str()) != 0) fail("rename " + from);
        } else if (name == "sqlite") {
            const auto [synchronous, rows] = split(argument, ':');
            insertRows(folder, synchronous, std::stoi(rows));
        } else if (name == "remove") {
            if (::unlink((folder / argument).c_str()) != 0) fail("unlink " + argument);
        } else {
            throw std::invalid_argument("unknown step: " + std::string(step));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: PowerLossProbe <folder> <step>...\n";
        return 2;
    }
    try {
        run(argv[1], argc - 2, argv + 2);
    } catch (const std::exception& failure) {
        std::cerr << "PowerLossProbe: " << failure.what() << "\n";
        return 1;
    }
    writeAll(STDOUT_FILENO, "done\n");
    ::raise(SIGKILL);
    return 1;
}
