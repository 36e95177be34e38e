// Saving and loading a year of a busy restaurant through a real Repository in a temporary
// directory, each next to its floor: the least work any enveloped, digest-checked file format
// needs, measured in the same run on the same machine.
//
// Save floor: SHA-256 and Base64 of the document bytes, then one write and fsync of the envelope.
// Load floor: read the file, Base64-decode the payload, SHA-256 of the result, parse the document.
// A save also encodes and validates the document and re-reads, checks and copies the stored file;
// a load also validates. Compare BM_SaveBusyYear with BM_SaveFloorBusyYear and BM_LoadBusyYear with
// BM_LoadFloorBusyYear.

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <benchmark/benchmark.h>
#include <support/SyntheticDocument.hpp>
#include <support/TestFiles.hpp>

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using pizzacore::Database;
using pizzacore::Repository;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::TemporaryDirectory;

constexpr std::uint64_t seed = 2025;

using Digest = std::array<unsigned char, 32>;

Digest sha256(const void* bytes, std::size_t size) {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes, size, digest.data(), &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return digest;
}

std::string hex(const Digest& digest) {
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// The whole file in one read of its size.
std::string readFile(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "open");
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        throw std::system_error(errno, std::generic_category(), "fstat");
    }
    std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t size = 0;
    while (size < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot read " + path.string());
        }
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return bytes;
}

void writeAndSync(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "open");
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            throw std::system_error(errno, std::generic_category(), "write");
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        throw std::system_error(errno, std::generic_category(), "fsync");
}

// A data directory of its own, with the busy year already saved in it once, so that every timed
// save finds a stored file to check and keep as the previous copy, as in daily use.
class BusyYear : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        if (repository) return;
        document = pizzacore::testing::makeDocument(DocumentShape::busyYear(), seed);
        json = pizzacore::toJSON(document);
        directory = std::make_unique<TemporaryDirectory>("velmora-bench");
        repository = std::make_unique<Repository>(directory->path(), true);
        repository->save(document);
    }

protected:
    void report(benchmark::State& state) const {
        state.SetBytesProcessed(static_cast<std::int64_t>(json.size()) * state.iterations());
        state.counters["document_MB"] = static_cast<double>(json.size()) / 1e6;
    }

    Database document;
    std::string json;
    std::unique_ptr<TemporaryDirectory> directory;
    std::unique_ptr<Repository> repository;
};

BENCHMARK_DEFINE_F(BusyYear, Save)(benchmark::State& state) {
    for (auto _ : state)
        repository->save(document);
    report(state);
}

BENCHMARK_DEFINE_F(BusyYear, SaveFloor)(benchmark::State& state) {
    const fs::path target = directory->path() / "floor.json";
    for (auto _ : state) {
        const Digest digest = sha256(json.data(), json.size());
        std::string envelope = R"({"format":"Velmora","payload":")";
        envelope.reserve(envelope.size() + json.size() / 3 * 8 + 256);
        pizzacore::Base64::append(
            envelope, std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()), true);
        envelope += R"(","sha256":")" + hex(digest) + R"(","version":1})";
        writeAndSync(target, envelope);
    }
    report(state);
}

BENCHMARK_DEFINE_F(BusyYear, Load)(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(repository->load());
    report(state);
}

BENCHMARK_DEFINE_F(BusyYear, LoadFloor)(benchmark::State& state) {
    const fs::path file = repository->file();
    for (auto _ : state) {
        const std::string envelope = readFile(file);
        // The payload is the only string with "\/" escapes; everything else in the envelope is fixed.
        const std::string_view key = R"("payload":")";
        const std::size_t start = envelope.find(key) + key.size();
        const std::size_t end = envelope.find('"', start);
        std::string payload;
        payload.reserve(end - start);
        for (std::size_t from = start; from < end;) {
            const std::size_t escape = std::min(envelope.find('\\', from), end);
            payload.append(envelope, from, escape - from);
            from = escape + 1;
        }
        const std::optional<pizzacore::Bytes> bytes = pizzacore::Base64::decode(payload);
        if (!bytes) throw std::runtime_error("payload is not Base64");
        benchmark::DoNotOptimize(sha256(bytes->data(), bytes->size()));
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        benchmark::DoNotOptimize(pizzacore::fromJSON<Database>(text));
    }
    report(state);
}

// The two figures PeakMemory prints: the document's JSON size and the peak resident bytes.
struct PeakFigures {
    double json = 0;
    double peak = 0;
    bool measured = false;
};

// Runs PeakMemory with the command on the directory, in a process of its own.
PeakFigures peakMemory(const char* command, const fs::path& directory) {
    PeakFigures figures;
    const std::string line =
        std::string("'") + VELMORA_PEAK_MEMORY + "' " + command + " '" + directory.string() + "'";
    FILE* output = ::popen(line.c_str(), "r");
    if (!output) return figures;
    const int read = std::fscanf(output, "%lf %lf", &figures.json, &figures.peak);
    figures.measured = ::pclose(output) == 0 && read == 2;
    return figures;
}

// Peak resident size of a load and of a save of the busy year, each in a process of its own
// (getrusage for the load; for the save the peak during the save itself, the document held).
// The repository of the fixture is released for the time of the measurement, so that the child
// can take the lock.
BENCHMARK_DEFINE_F(BusyYear, PeakMemory)(benchmark::State& state) {
    const fs::path path = directory->path();
    repository.reset();
    PeakFigures load, save;
    for (auto _ : state) {
        load = peakMemory("load", path);
        save = peakMemory("save", path);
    }
    repository = std::make_unique<Repository>(path, true);
    if (!load.measured || !save.measured) {
        state.SkipWithError("PeakMemory failed");
        return;
    }
    state.counters["json_MB"] = load.json / 1e6;
    state.counters["load_peak_MB"] = load.peak / 1e6;
    state.counters["load_peak_x_json"] = load.peak / load.json;
    state.counters["save_peak_MB"] = save.peak / 1e6;
    state.counters["save_peak_x_json"] = save.peak / save.json;
}

BENCHMARK_REGISTER_F(BusyYear, Save)
    ->Name("BM_SaveBusyYear")
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(BusyYear, SaveFloor)
    ->Name("BM_SaveFloorBusyYear")
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(BusyYear, Load)
    ->Name("BM_LoadBusyYear")
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(BusyYear, LoadFloor)
    ->Name("BM_LoadFloorBusyYear")
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_REGISTER_F(BusyYear, PeakMemory)
    ->Name("BM_PeakMemoryBusyYear")
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
