// Saving survives the process being killed at any moment. A child process (SaveLoop) saves one
// synthetic document after another into a data directory and is killed with SIGKILL after a random
// delay, over and over on the same directory. After every kill the directory must open again with
// the lock, "Velmora.json" must load as one of the last two documents the child had saved or had
// been saving, and "Velmora.previous.json", when present, must decode as one of the documents it
// can hold at that point. The temporary files of a save cut short are gone once the directory is
// opened with the lock again.
//
// The child appends each document's seed to a journal before it starts saving it, so the test
// knows which documents may be on disk. VELMORA_CRASH_KILLS sets the number of kills (default
// 200); scripts/crash-campaign uses it for long runs.

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;

// The document the child saves for a seed.
Database documentFor(std::uint64_t seed) {
    return makeDocument(seed % 2 == 0 ? DocumentShape::tiny() : DocumentShape::small(), seed);
}

// What a file of the data directory can hold: the document of a seed, or nothing (no file).
using Content = std::optional<std::uint64_t>;

std::string describe(const Content& content) {
    return content ? "seed " + std::to_string(*content) : "no file";
}

// One running SaveLoop: its pid and the read end of its standard output.
class SaveLoopProcess {
public:
    SaveLoopProcess(const fs::path& directory, const fs::path& journal, const fs::path& errors,
                    std::uint64_t firstSeed) {
        int pipeFDs[2];
        if (::pipe2(pipeFDs, O_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "pipe2");
        output_ = pipeFDs[0];

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFDs[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::string program = VELMORA_SAVE_LOOP;
        const std::string seedText = std::to_string(firstSeed);
        std::string directoryText = directory.string(), journalText = journal.string();
        std::vector<char*> arguments = {const_cast<char*>(program.c_str()), directoryText.data(),
                                        journalText.data(), const_cast<char*>(seedText.c_str()), nullptr};
        const int spawned =
            ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, arguments.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFDs[1]);
        if (spawned != 0) {
            ::close(output_);
            throw std::system_error(spawned, std::generic_category(), "posix_spawn " + program);
        }
    }

    ~SaveLoopProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        ::close(output_);
    }
    SaveLoopProcess(const SaveLoopProcess&) = delete;
    SaveLoopProcess& operator=(const SaveLoopProcess&) = delete;

    // Waits until the child has the repository open. False when it ended first.
    bool waitUntilReady() {
        std::string received;
        while (received.find('\n') == std::string::npos) {
            pollfd waiting{output_, POLLIN, 0};
            // Only a guard against a child that hangs; a ready child answers within milliseconds.
            const int events = ::poll(&waiting, 1, 120'000);
            if (events < 0 && errno == EINTR) continue;
            if (events <= 0) return false;
            char buffer[64];
            const ssize_t count = ::read(output_, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return false;
            received.append(buffer, static_cast<std::size_t>(count));
        }
        return received == "ready\n";
    }

    // Kills the child and reaps it; gives its wait status.
    int killNow() {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// The seeds in the journal, in the order the child started saving them; a line is complete once
// its newline is there.
std::vector<std::uint64_t> journalSeeds(const fs::path& journal) {
    std::vector<std::uint64_t> seeds;
    const std::string text = readFile(journal);
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        std::uint64_t seed = 0;
        const auto [stop, error] = std::from_chars(text.data() + start, text.data() + end, seed);
        if (error != std::errc() || stop != text.data() + end)
            throw std::runtime_error("journal line is not a seed: " + text.substr(start, end - start));
        seeds.push_back(seed);
        start = end + 1;
    }
    return seeds;
}

// Which of the candidates a file of the directory holds; the file must decode (and so pass the
// digest and integrity checks) whenever it exists.
std::optional<Content> identify(const fs::path& file, const Database* loaded,
                                const std::vector<Content>& candidates) {
    const bool exists = fs::exists(file);
    std::optional<Database> document;
    if (exists) document = loaded ? *loaded : Repository::decode(readFile(file));
    for (const Content& candidate : candidates) {
        if (!candidate) {
            if (!exists) return candidate;
        } else if (exists && *document == documentFor(*candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::string describe(const std::vector<Content>& candidates) {
    std::string text;
    for (const Content& candidate : candidates)
        text += (text.empty() ? "" : ", ") + describe(candidate);
    return text;
}

// The names in the data directory other than the document, its previous copy and the lock.
std::string strayFiles(const fs::path& directory) {
    std::string names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name != "Velmora.json" && name != "Velmora.previous.json" && name != ".lock") names += name + " ";
    }
    return names;
}

std::size_t killCount() {
    const char* configured = std::getenv("VELMORA_CRASH_KILLS");
    if (configured == nullptr || *configured == '\0') return 200;
    std::size_t count = 0;
    const std::string_view text = configured;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || stop != text.data() + text.size() || count == 0)
        throw std::invalid_argument("VELMORA_CRASH_KILLS is not a positive number: " + std::string(text));
    return count;
}

TEST(CrashTest, SavesSurviveKillsAtRandomMoments) {
    const std::size_t kills = killCount();
    TemporaryDirectory temporary;
    const fs::path directory = temporary.path() / "data";
    const fs::path journal = temporary.path() / "journal";
    const fs::path errors = temporary.path() / "stderr";

    std::mt19937_64 random(20251207);
    // Delays spread evenly over their logarithm, 10 µs to 150 ms: kills land during start-up, while
    // a document is made, while the stored file is checked, in every step of the writes, and after
    // a few saves have finished.
    std::uniform_real_distribution<double> logDelay(std::log(10.0), std::log(150'000.0));
    std::uniform_int_distribution<int> oneIn(0, 7);

    // What the directory held after the last kill.
    Content stored, previous;
    std::size_t journalLength = 0, killsDuringSaves = 0, newestStored = 0;

    for (std::size_t round = 0; round < kills; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round + 1));
        {
            SaveLoopProcess child(directory, journal, errors, (round + 1) << 32);
            // Now and then kill the child before it has even opened the directory.
            const bool early = oneIn(random) == 0;
            if (!early) {
                ASSERT_TRUE(child.waitUntilReady()) << "SaveLoop did not start: " << readFile(errors);
            }
            const auto delay = std::chrono::microseconds(
                static_cast<std::int64_t>(std::exp(logDelay(random)) / (early ? 10.0 : 1.0)));
            std::this_thread::sleep_for(delay);
            const int status = child.killNow();
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "SaveLoop ended on its own (status " << status << "): " << readFile(errors);
        }

        const std::vector<std::uint64_t> seeds = journalSeeds(journal);
        ASSERT_GE(seeds.size(), journalLength);
        // The documents each file may hold now, oldest first: the main file holds the last document
        // whose save finished or the one being saved; the previous copy was written by one of the
        // last two saves, or by none in this run.
        std::vector<Content> sequence = {previous, stored};
        for (std::size_t i = journalLength; i < seeds.size(); ++i)
            sequence.emplace_back(seeds[i]);
        const std::size_t started = seeds.size() - journalLength;
        journalLength = seeds.size();
        const std::vector<Content> storedCandidates(sequence.end() - (started == 0 ? 1 : 2), sequence.end());
        const std::vector<Content> previousCandidates(sequence.end() - (started == 0 ? 2 : 3),
                                                      sequence.end() - 1);

        // The killed child's lock went with its descriptors.
        std::optional<Repository> repository;
        ASSERT_NO_THROW(repository.emplace(directory, true));
        // What the killed save left half-written is cleared away once the lock is held again.
        ASSERT_EQ(strayFiles(directory), "");
        Database loaded;
        ASSERT_NO_THROW(loaded = repository->load());

        std::optional<Content> storedNow, previousNow;
        ASSERT_NO_THROW(storedNow = identify(repository->file(), &loaded, storedCandidates));
        ASSERT_TRUE(storedNow) << "Velmora.json holds none of: " << describe(storedCandidates);
        ASSERT_NO_THROW(previousNow =
                            identify(directory / "Velmora.previous.json", nullptr, previousCandidates));
        ASSERT_TRUE(previousNow) << "Velmora.previous.json holds none of: " << describe(previousCandidates);

        if (started > 0) ++killsDuringSaves;
        if (started > 0 && *storedNow == sequence.back()) ++newestStored;
        stored = *storedNow;
        previous = *previousNow;
    }

    // The kills must have reached the saves, or this test proved nothing.
    EXPECT_GT(killsDuringSaves, 0u);
    std::cout << "kills survived: " << kills << " (saves started: " << journalLength
              << "; kills after a save had started: " << killsDuringSaves
              << ", of which the newest document was already stored: " << newestStored << ")\n";
}

} // namespace
