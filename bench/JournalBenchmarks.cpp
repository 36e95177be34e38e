// The journal of changes on a year of a busy restaurant, in a real data directory: what a
// confirmation and a draft autosave cost from the call to durable, the bytes they write, the
// checks and the diff they need, opening with entries to replay, a fold of the whole year, and a
// confirmation while a fold runs on another thread.
//
// Every commit is made with the change of one confirmation (or one keystroke in the draft) on
// the busy year; the same change is committed again on every iteration, which costs what a new
// one of the same size costs.

#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::TemporaryDirectory;

constexpr std::uint64_t seed = 2025;

// A draft of the first two active products.
Draft someDraft(const Database& db) {
    Draft draft;
    for (const Product& product : db.products) {
        if (!product.active) continue;
        draft.lines.push_back(Line::make(product));
        if (draft.lines.size() == 2) break;
    }
    return draft;
}

// The busy year saved once in a data directory of its own, with a confirmation and a keystroke
// in the draft prepared on it.
struct BusyYearJournal {
    BusyYearJournal() {
        document = pizzacore::testing::makeDocument(DocumentShape::busyYear(), seed);
        now = Instant{document.sessions.back().opened.seconds + 3600};
        document.reconcile(now);
        directory = std::make_unique<TemporaryDirectory>("velmora-bench-journal");
        repository = std::make_unique<Repository>(directory->path(), true);
        repository->save(document);

        confirmed = document;
        confirmed.confirm(someDraft(confirmed), now);
        confirmation = diff(document, confirmed);

        typed = document;
        typed.draft.notes += "a";
        keystroke = diff(document, typed);
    }

    static BusyYearJournal& shared() {
        static BusyYearJournal journal;
        return journal;
    }

    // The size of the journal's files (database, log and shared memory).
    std::uintmax_t journalBytes() const {
        std::uintmax_t total = 0;
        for (const char* suffix : {"", "-wal"}) {
            std::error_code error;
            const std::uintmax_t size = fs::file_size(repository->journalFile().string() + suffix, error);
            if (!error) total += size;
        }
        return total;
    }

    Database document;
    Instant now;
    std::unique_ptr<TemporaryDirectory> directory;
    std::unique_ptr<Repository> repository;
    Database confirmed;
    DocumentChange confirmation;
    Database typed;
    DocumentChange keystroke;
};

// Bytes this process has caused to be sent to the storage layer (/proc/self/io write_bytes).
std::int64_t writtenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::int64_t value = 0;
    while (io >> key >> value)
        if (key == "write_bytes:") return value;
    return -1;
}

void BM_ValidateBusyYear(benchmark::State& state) {
    const BusyYearJournal& journal = BusyYearJournal::shared();
    for (auto _ : state)
        Repository::validate(journal.confirmed);
}
BENCHMARK(BM_ValidateBusyYear)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ValidateChangeConfirmationBusyYear(benchmark::State& state) {
    const BusyYearJournal& journal = BusyYearJournal::shared();
    for (auto _ : state)
        Repository::validateChange(journal.confirmed, journal.confirmation);
}
BENCHMARK(BM_ValidateChangeConfirmationBusyYear)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_DiffConfirmationBusyYear(benchmark::State& state) {
    const BusyYearJournal& journal = BusyYearJournal::shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(diff(journal.document, journal.confirmed));
}
BENCHMARK(BM_DiffConfirmationBusyYear)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_EncodeConfirmationBusyYear(benchmark::State& state) {
    const BusyYearJournal& journal = BusyYearJournal::shared();
    std::size_t size = 0;
    for (auto _ : state)
        size = encodeChange(journal.confirmation).size();
    state.counters["change_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_EncodeConfirmationBusyYear)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// From the call to durable: the check, the encoding and the appended entry on the disk.
void commitBenchmark(benchmark::State& state, const char* kind, const DocumentChange& change,
                     const Database& after) {
    BusyYearJournal& journal = BusyYearJournal::shared();
    const std::uintmax_t filesBefore = journal.journalBytes();
    const std::int64_t writtenBefore = writtenBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(journal.repository->commit(kind, change, after));
    const double commits = static_cast<double>(state.iterations());
    state.counters["io_write_bytes_per_commit"] =
        static_cast<double>(writtenBytes() - writtenBefore) / std::max(commits, 1.0);
    state.counters["file_growth_bytes_per_commit"] =
        static_cast<double>(journal.journalBytes() - filesBefore) / std::max(commits, 1.0);
    state.counters["change_bytes"] = static_cast<double>(encodeChange(change).size());
}

void BM_CommitConfirmationBusyYear(benchmark::State& state) {
    const BusyYearJournal& journal = BusyYearJournal::shared();
    commitBenchmark(state, "transaction", journal.confirmation, journal.confirmed);
}
BENCHMARK(BM_CommitConfirmationBusyYear)
    ->UseRealTime()
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_CommitDraftBusyYear(benchmark::State& state) {
    const BusyYearJournal& journal = BusyYearJournal::shared();
    commitBenchmark(state, "draft", journal.keystroke, journal.typed);
}
BENCHMARK(BM_CommitDraftBusyYear)
    ->UseRealTime()
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Twenty keystrokes in the checkout: twenty draft entries, each one character longer.
void BM_TypingTwentyCharactersBusyYear(benchmark::State& state) {
    BusyYearJournal& journal = BusyYearJournal::shared();
    std::int64_t written = 0;
    std::uintmax_t grown = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Database before = journal.document;
        std::vector<std::pair<DocumentChange, Database>> steps;
        for (int k = 0; k < 20; ++k) {
            Database after = before;
            after.draft.notes += "x";
            steps.emplace_back(diff(before, after), after);
            before = std::move(after);
        }
        const std::int64_t writtenBefore = writtenBytes();
        const std::uintmax_t filesBefore = journal.journalBytes();
        state.ResumeTiming();
        for (const auto& [change, after] : steps)
            journal.repository->commit("draft", change, after);
        state.PauseTiming();
        written += writtenBytes() - writtenBefore;
        grown += journal.journalBytes() - filesBefore;
        state.ResumeTiming();
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["io_write_bytes"] = static_cast<double>(written) / runs;
    state.counters["file_growth_bytes"] = static_cast<double>(grown) / runs;
}
BENCHMARK(BM_TypingTwentyCharactersBusyYear)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// A whole writing of the busy year naming the last entry, then dropping the entries.
void BM_FoldBusyYear(benchmark::State& state) {
    BusyYearJournal& journal = BusyYearJournal::shared();
    const std::int64_t writtenBefore = writtenBytes();
    for (auto _ : state)
        journal.repository->fold(journal.confirmed, journal.repository->lastSequence());
    state.counters["io_write_bytes_per_fold"] =
        static_cast<double>(writtenBytes() - writtenBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FoldBusyYear)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Opening the folder with 300 confirmations committed after the stored document: reading it,
// then replaying the entries.
void BM_LoadWith300PendingBusyYear(benchmark::State& state) {
    BusyYearJournal& journal = BusyYearJournal::shared();
    Database db = journal.document;
    journal.repository->fold(db, journal.repository->lastSequence());
    Instant now = journal.now;
    for (int k = 0; k < 300; ++k) {
        Database after = db;
        now = Instant{now.seconds + 60};
        after.confirm(someDraft(after), now);
        journal.repository->commit("transaction", diff(db, after), after);
        db = std::move(after);
    }
    for (auto _ : state) {
        Repository reader(journal.directory->path(), false);
        benchmark::DoNotOptimize(reader.load());
    }
    state.counters["pending"] = static_cast<double>(journal.repository->pendingEntries());
    journal.repository->fold(journal.confirmed, journal.repository->lastSequence());
}
BENCHMARK(BM_LoadWith300PendingBusyYear)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_LoadNothingPendingBusyYear(benchmark::State& state) {
    BusyYearJournal& journal = BusyYearJournal::shared();
    for (auto _ : state) {
        Repository reader(journal.directory->path(), false);
        benchmark::DoNotOptimize(reader.load());
    }
}
BENCHMARK(BM_LoadNothingPendingBusyYear)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Confirmations committed while a fold of the busy year runs on another thread the whole time.
void BM_CommitWhileFoldingBusyYear(benchmark::State& state) {
    BusyYearJournal& journal = BusyYearJournal::shared();
    std::atomic<bool> stop = false;
    std::atomic<int> folds = 0;
    std::thread folder([&] {
        while (!stop) {
            journal.repository->fold(journal.confirmed, journal.repository->lastSequence());
            ++folds;
        }
    });
    // The first fold is under way before anything is timed.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (auto _ : state)
        journal.repository->commit("transaction", journal.confirmation, journal.confirmed);
    stop = true;
    folder.join();
    state.counters["folds_meanwhile"] = folds.load();
}
BENCHMARK(BM_CommitWhileFoldingBusyYear)
    ->UseRealTime()
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
