// A process that writes into a data directory until it is killed; the crash tests run it and kill
// it at random moments. Two ways:
//
//     SaveLoop <directory> <journal> <first seed>
//
// It opens the directory with the lock, writes "ready\n" to its standard output, and then, for the
// seeds first, first + 1, …, appends the seed as a line of 32 bytes to the journal and saves the synthetic
// document of that seed (tiny for even seeds, small for odd ones). The journal line is written
// before the save starts, so whoever reads the journal after a kill knows every document that may
// be on disk.
//
//     SaveLoop commits <directory> <acknowledgements> <seed> <fold every>
//
// It opens the directory with the lock and loads the document, writes "ready\n", and then commits
// the steps of the till workload of that seed (TillWorkload) one after another, as the application
// does: each step's change is committed with the document after it. Once a commit has returned, a
// line "<step> <sequence> <digest>" of 64 bytes is appended to the acknowledgements file. A thread folds the
// document into the directory in the background every <fold every> entries, and at once after a
// shift is closed; commits go on meanwhile.
//
// Any failure ends the process with status 1 and a message on standard error.

#include <PizzaCore/Persistence/Repository.hpp>
#include <support/SyntheticDocument.hpp>
#include <support/TillWorkload.hpp>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

using pizzacore::testing::DocumentShape;

// Writes all of `text`, with one call where the kernel allows it.
void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "write");
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Appends `text` and a line break as one record of exactly `size` bytes, padded with spaces before
// the line break. A kill can cut a write short between two pages of the file (Linux checks for it
// after each page it copies); records whose size divides the page size never straddle two pages,
// so a kill sees each record whole or not at all.
template <std::size_t size>
void appendRecord(int fd, std::string_view text) {
    static_assert(4096 % size == 0);
    if (text.size() >= size) throw std::invalid_argument("record too long");
    std::string record(text);
    record.resize(size - 1, ' ');
    record += '\n';
    writeAll(fd, record);
}

// The loop has no end of its own: make sure it does not outlive a test that died.
bool dieWithParent() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    return ::getppid() != 1;
}

int openAppending(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "open " + path.string());
    return fd;
}

int saveDocuments(const std::filesystem::path& directory, const std::filesystem::path& journalPath,
                  std::uint64_t firstSeed) {
    if (!dieWithParent()) return 1;
    const int journal = openAppending(journalPath);

    pizzacore::Repository repository(directory, true);
    writeAll(STDOUT_FILENO, "ready\n");

    for (std::uint64_t seed = firstSeed;; ++seed) {
        const auto shape = seed % 2 == 0 ? DocumentShape::tiny() : DocumentShape::small();
        const pizzacore::Database document = pizzacore::testing::makeDocument(shape, seed);
        appendRecord<32>(journal, std::to_string(seed));
        repository.save(document);
    }
}

// Folds on its own thread the latest document handed to it, so that commits never wait for one.
class BackgroundFold {
public:
    explicit BackgroundFold(pizzacore::Repository& repository)
        : repository_(repository)
        , thread_([this] { run(); }) {}
    // The process only ever ends by a kill or a failure; the thread is never joined.
    ~BackgroundFold() { thread_.detach(); }
    BackgroundFold(const BackgroundFold&) = delete;
    BackgroundFold& operator=(const BackgroundFold&) = delete;

    bool busy() {
        std::lock_guard lock(mutex_);
        return pending_.has_value() || folding_;
    }
    // Hands over the document holding every entry up to `sequence`; ignored while a fold runs.
    void request(const pizzacore::Database& db, std::int64_t sequence) {
        {
            std::lock_guard lock(mutex_);
            if (pending_ || folding_) return;
            pending_.emplace(db);
            sequence_ = sequence;
        }
        wake_.notify_one();
    }

private:
    void run() {
        try {
            for (;;) {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return pending_.has_value(); });
                const pizzacore::Database db = std::move(*pending_);
                pending_.reset();
                folding_ = true;
                const std::int64_t sequence = sequence_;
                lock.unlock();
                repository_.fold(db, sequence);
                lock.lock();
                folding_ = false;
            }
        } catch (const std::exception& failure) {
            std::cerr << "SaveLoop: fold: " << failure.what() << "\n";
            std::_Exit(1);
        }
    }

    pizzacore::Repository& repository_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<pizzacore::Database> pending_;
    std::int64_t sequence_ = 0;
    bool folding_ = false;
    std::thread thread_;
};

int commitSteps(const std::filesystem::path& directory, const std::filesystem::path& acknowledgementsPath,
                std::uint64_t seed, std::int64_t foldEvery) {
    if (!dieWithParent()) return 1;
    const int acknowledgements = openAppending(acknowledgementsPath);

    pizzacore::Repository repository(directory, true);
    pizzacore::Database current = repository.load();
    pizzacore::testing::TillWorkload workload(current, seed);
    BackgroundFold folding(repository);
    writeAll(STDOUT_FILENO, "ready\n");

    std::int64_t foldedUpTo = repository.lastSequence();
    for (std::uint64_t index = 1;; ++index) {
        pizzacore::testing::TillWorkload::Step step = workload.next(current);
        const std::int64_t sequence = repository.commit(step.kind, step.change, step.after);
        char line[64];
        const int length =
            std::snprintf(line, sizeof line, "%llu %lld %016llx", static_cast<unsigned long long>(index),
                          static_cast<long long>(sequence), static_cast<unsigned long long>(step.digest));
        appendRecord<64>(acknowledgements, std::string_view(line, static_cast<std::size_t>(length)));
        current = std::move(step.after);
        const bool shiftClosed = step.change.sessions.has_value();
        if ((shiftClosed || sequence - foldedUpTo >= foldEvery) && !folding.busy()) {
            folding.request(current, sequence);
            foldedUpTo = sequence;
        }
    }
}

template <class Number>
std::optional<Number> number(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char** argv) {
    const bool commits = argc == 6 && std::string_view(argv[1]) == "commits";
    if (argc != 4 && !commits) {
        std::cerr << "usage: SaveLoop <directory> <journal> <first seed>\n"
                     "       SaveLoop commits <directory> <acknowledgements> <seed> <fold every>\n";
        return 2;
    }
    const std::optional<std::uint64_t> seed = number<std::uint64_t>(argv[commits ? 4 : 3]);
    const std::optional<std::int64_t> foldEvery = commits ? number<std::int64_t>(argv[5]) : 1;
    if (!seed || !foldEvery || *foldEvery < 1) {
        std::cerr << "SaveLoop: not a number: " << argv[commits ? 4 : 3] << "\n";
        return 2;
    }
    try {
        if (commits) return commitSteps(argv[2], argv[3], *seed, *foldEvery);
        return saveDocuments(argv[1], argv[2], *seed);
    } catch (const std::exception& failure) {
        std::cerr << "SaveLoop: " << failure.what() << "\n";
        return 1;
    }
}
