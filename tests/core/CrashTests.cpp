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
//
// Committing survives the same, and a power cut too. A child (SaveLoop commits) commits the steps
// of a till in use — typing into the draft, confirming, paying, closing the shift — while a thread
// folds the document in the background, and writes an acknowledgement after each commit returns.
// It is killed at a random moment; with the power-loss shim the folder is then also rebuilt as a
// disk that kept only what was flushed would show it. Either way the folder must open, and load as
// exactly the document after every acknowledged step, and at most the one in flight: the test
// makes the same steps again in memory from the same seed to know it. VELMORA_JOURNAL_KILLS and
// VELMORA_POWER_CUTS set how many rounds (defaults 20 and 10).

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <gtest/gtest.h>
#include <support/ChildProcess.hpp>
#include <support/PowerLoss.hpp>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>
#include <support/TillWorkload.hpp>

#include <algorithm>
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
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/wait.h>

using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;

namespace {

namespace fs = std::filesystem;
using pizzacore::testing::ChildProcess;
using pizzacore::testing::readFile;
using pizzacore::testing::TemporaryDirectory;
using pizzacore::testing::TillWorkload;

// The document the child saves for a seed.
Database documentFor(std::uint64_t seed) {
    return makeDocument(seed % 2 == 0 ? DocumentShape::tiny() : DocumentShape::small(), seed);
}

// What a file of the data directory can hold: the document of a seed, or nothing (no file).
using Content = std::optional<std::uint64_t>;

std::string describe(const Content& content) {
    return content ? "seed " + std::to_string(*content) : "no file";
}

// SaveLoop saving documents: <directory> <journal> <first seed>.
std::unique_ptr<ChildProcess> startSaveLoop(const fs::path& directory, const fs::path& journal,
                                            const fs::path& errors, std::uint64_t firstSeed) {
    return std::make_unique<ChildProcess>(
        VELMORA_SAVE_LOOP,
        std::vector<std::string>{directory.string(), journal.string(), std::to_string(firstSeed)}, errors);
}

// The records of `size` bytes in a file SaveLoop appends to: each a line padded with spaces before
// its line break. The child writes them so that a kill never tears one (see SaveLoop.cpp); a file
// whose length is not a whole number of records is refused.
std::vector<std::string> records(const fs::path& file, std::size_t size) {
    const std::string text = readFile(file);
    if (text.size() % size != 0)
        throw std::runtime_error(file.string() +
                                 " ends in a torn record: " + text.substr(text.size() / size * size));
    std::vector<std::string> read;
    for (std::size_t start = 0; start < text.size(); start += size) {
        std::string record = text.substr(start, size);
        if (record.back() != '\n') throw std::runtime_error("not a record: " + record);
        record.erase(record.find_last_not_of(" \n") + 1);
        read.push_back(std::move(record));
    }
    return read;
}

// The seeds in the journal, in the order the child started saving them.
std::vector<std::uint64_t> journalSeeds(const fs::path& journal) {
    std::vector<std::uint64_t> seeds;
    for (const std::string& record : records(journal, 32)) {
        std::uint64_t seed = 0;
        const auto [stop, error] = std::from_chars(record.data(), record.data() + record.size(), seed);
        if (error != std::errc() || stop != record.data() + record.size())
            throw std::runtime_error("journal line is not a seed: " + record);
        seeds.push_back(seed);
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

// The positive number in the environment variable, or `fallback` when it is not set.
std::size_t countFrom(const char* variable, std::size_t fallback) {
    const char* configured = std::getenv(variable);
    if (configured == nullptr || *configured == '\0') return fallback;
    std::size_t count = 0;
    const std::string_view text = configured;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || stop != text.data() + text.size() || count == 0)
        throw std::invalid_argument(std::string(variable) +
                                    " is not a positive number: " + std::string(text));
    return count;
}

TEST(CrashTest, SavesSurviveKillsAtRandomMoments) {
    const std::size_t kills = countFrom("VELMORA_CRASH_KILLS", 200);
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
            const std::unique_ptr<ChildProcess> child =
                startSaveLoop(directory, journal, errors, (round + 1) << 32);
            // Now and then kill the child before it has even opened the directory.
            const bool early = oneIn(random) == 0;
            if (!early) {
                ASSERT_EQ(child->readLine(), "ready") << "SaveLoop did not start: " << readFile(errors);
            }
            const auto delay = std::chrono::microseconds(
                static_cast<std::int64_t>(std::exp(logDelay(random)) / (early ? 10.0 : 1.0)));
            std::this_thread::sleep_for(delay);
            const int status = child->killNow();
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

// ---- Committing through the journal ----------------------------------------------------------------

// One line of the acknowledgements file: the step whose commit returned, its sequence number and
// the digest of the changes up to it.
struct Acknowledgement {
    std::uint64_t step = 0;
    std::int64_t sequence = 0;
    std::uint64_t digest = 0;
};

std::vector<Acknowledgement> acknowledgements(const fs::path& file) {
    std::vector<Acknowledgement> read;
    for (const std::string& record : records(file, 64)) {
        Acknowledgement acknowledgement;
        std::istringstream fields(record);
        fields >> acknowledgement.step >> acknowledgement.sequence >> std::hex >> acknowledgement.digest;
        if (!fields || !(fields >> std::ws).eof())
            throw std::runtime_error("not an acknowledgement: " + record);
        read.push_back(acknowledgement);
    }
    return read;
}

// Rounds of kills or power cuts of a committing child on one folder, and what they found.
class CommitCampaign {
public:
    explicit CommitCampaign(bool powerCuts)
        : powerCuts_(powerCuts) {}

    // One kill or cut; false when the harness itself failed and the campaign must stop.
    bool round(std::size_t index, std::mt19937_64& random);

    std::string figures(std::size_t rounds, double seconds) const {
        return std::to_string(rounds) + " (steps acknowledged: " + std::to_string(acknowledged_) +
               ", acknowledged steps lost: " + std::to_string(lost_) +
               ", folders that failed to open: " + std::to_string(failedOpens_) +
               "; the step in flight was stored " + std::to_string(inFlightStored_) +
               " times; kills before the first acknowledgement: " + std::to_string(beforeFirst_) +
               "; kills while a fold was writing the document: " + std::to_string(duringFolds_) +
               "; most journal entries pending at a reopen: " + std::to_string(mostPending_) +
               "; folders begun: " + std::to_string(folders_) + "; " +
               std::to_string(static_cast<long long>(seconds)) + " s)";
    }
    std::size_t faults() const { return faultyRounds_; }

private:
    // A fresh folder holding a small synthetic document, every few rounds and after a fault, so
    // the document stays small.
    void begin(std::uint64_t seed) {
        fs::remove_all(directory_);
        {
            Repository repository(directory_, true);
            repository.save(makeDocument(DocumentShape::tiny(), seed));
        }
        Repository repository(directory_, true);
        state_ = repository.load();
        ++folders_;
        fresh_ = false;
    }

    static constexpr std::size_t roundsPerFolder = 25;

    bool powerCuts_;
    TemporaryDirectory temporary_{"velmora-commits"};
    const fs::path directory_ = temporary_.path() / "data";
    const fs::path shadow_ = temporary_.path() / "shadow";
    const fs::path acknowledgements_ = temporary_.path() / "acknowledgements";
    const fs::path errors_ = temporary_.path() / "stderr";
    Database state_;
    bool fresh_ = true;
    std::size_t acknowledged_ = 0, lost_ = 0, failedOpens_ = 0, inFlightStored_ = 0, beforeFirst_ = 0,
                duringFolds_ = 0, folders_ = 0, faultyRounds_ = 0;
    std::int64_t mostPending_ = 0;
};

bool CommitCampaign::round(std::size_t index, std::mt19937_64& random) {
    if (fresh_ || index % roundsPerFolder == 0) begin(random());
    fs::remove(acknowledgements_);
    if (powerCuts_) pizzacore::testing::powerloss::recordDurable(directory_, shadow_);

    const std::uint64_t seed = random();
    const std::int64_t foldEvery = 8 + static_cast<std::int64_t>(random() % 40);
    // Delays spread evenly over their logarithm, 2 ms to 800 ms after the child is ready (a commit
    // takes a few milliseconds, the first one tens while SQLite opens the journal): kills land in
    // the first commit, in every part of a commit and of a fold, and after a hundred steps. Early kills, a
    // twentieth of that after the start, land while the child opens the folder and replays its journal.
    std::uniform_real_distribution<double> logDelay(std::log(2'000.0), std::log(800'000.0));
    const bool early = random() % 10 == 0;
    {
        ChildProcess child(VELMORA_SAVE_LOOP,
                           {"commits", directory_.string(), acknowledgements_.string(), std::to_string(seed),
                            std::to_string(foldEvery)},
                           errors_,
                           powerCuts_ ? pizzacore::testing::powerloss::environment(VELMORA_POWER_LOSS_SHIM,
                                                                                   directory_, shadow_)
                                      : std::vector<std::string>{});
        // Now and then the kill comes while the child is still opening the folder.
        if (!early) {
            const std::string ready = child.readLine();
            if (ready != "ready") {
                ADD_FAILURE() << "SaveLoop did not start: " << readFile(errors_);
                return false;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(
            static_cast<std::int64_t>(std::exp(logDelay(random)) / (early ? 20.0 : 1.0))));
        const int status = child.killNow();
        if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGKILL) {
            ADD_FAILURE() << "SaveLoop ended on its own (status " << status << "): " << readFile(errors_);
            return false;
        }
    }
    if (powerCuts_) pizzacore::testing::powerloss::cutPower(shadow_, directory_);

    const std::vector<Acknowledgement> acknowledged = acknowledgements(acknowledgements_);
    for (std::size_t i = 0; i < acknowledged.size(); ++i)
        if (acknowledged[i].step != i + 1 ||
            (i > 0 && acknowledged[i].sequence < acknowledged[i - 1].sequence)) {
            ADD_FAILURE() << "acknowledgements out of order at line " << i + 1;
            return false;
        }
    if (acknowledged.empty()) ++beforeFirst_;
    // A fold cut short leaves its temporary document behind, until the folder is opened.
    for (const fs::directory_entry& entry : fs::directory_iterator(directory_)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".Velmora.json.") && name.ends_with(".tmp")) {
            ++duringFolds_;
            break;
        }
    }
    acknowledged_ += acknowledged.size();

    Database loaded;
    try {
        Repository repository(directory_, true);
        loaded = repository.load();
        mostPending_ = std::max(mostPending_, repository.pendingEntries());
    } catch (const std::exception& failure) {
        ++failedOpens_;
        ++faultyRounds_;
        fresh_ = true;
        ADD_FAILURE() << "the folder does not open after round " << index + 1 << ": " << failure.what();
        return true;
    }

    // The same steps again, in memory: the documents after N and after N + 1 steps.
    TillWorkload replay(state_, seed);
    Database expected = state_;
    for (const Acknowledgement& acknowledgement : acknowledged) {
        TillWorkload::Step step = replay.next(expected);
        if (step.digest != acknowledgement.digest) {
            ADD_FAILURE() << "the steps made again differ from the child's at step " << acknowledgement.step;
            ++faultyRounds_;
            return false;
        }
        expected = std::move(step.after);
    }
    if (loaded == expected) {
        state_ = std::move(loaded);
        return true;
    }
    if (loaded == replay.next(expected).after) {
        ++inFlightStored_;
        state_ = std::move(loaded);
        return true;
    }

    // Lost acknowledged steps: which earlier document was found, if any.
    TillWorkload again(state_, seed);
    Database earlier = state_;
    std::optional<std::size_t> found;
    for (std::size_t steps = 0; steps < acknowledged.size() && !found; ++steps) {
        if (earlier == loaded) found = steps;
        earlier = again.next(earlier).after;
    }
    lost_ += found ? acknowledged.size() - *found : acknowledged.size();
    ++faultyRounds_;
    fresh_ = true;
    ADD_FAILURE() << "after round " << index + 1 << " the folder holds "
                  << (found ? "the document after step " + std::to_string(*found)
                            : std::string("no document made"))
                  << " of " << acknowledged.size() << " acknowledged";
    return true;
}

void runCommitCampaign(bool powerCuts, std::size_t rounds, std::string_view title) {
    const auto started = std::chrono::steady_clock::now();
    std::mt19937_64 random(powerCuts ? 20260311 : 20260310);
    CommitCampaign campaign(powerCuts);
    for (std::size_t index = 0; index < rounds; ++index) {
        if (!campaign.round(index, random) || campaign.faults() >= 5) break;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << title << ": " << campaign.figures(rounds, seconds) << "\n";
}

TEST(CrashTest, CommitsSurviveKillsAtRandomMoments) {
    runCommitCampaign(false, countFrom("VELMORA_JOURNAL_KILLS", 20), "journal kills");
}

TEST(CrashTest, CommitsSurvivePowerCuts) {
    runCommitCampaign(true, countFrom("VELMORA_POWER_CUTS", 10), "power cuts");
}

} // namespace
