// The peak resident memory of a load and of a save of a data directory, each measured in a fresh
// process so that nothing else the measuring program holds is counted:
//
//     PeakMemory prepare <directory>   saves the busy year into the directory
//     PeakMemory load <directory>      loads it
//     PeakMemory save <directory>      loads it, then saves it once
//     PeakMemory versions <directory>  loads it, then holds it and a copy with one more order
//
// Prints "json_bytes peak_bytes": the size of the document's JSON and the peak resident size. For
// a load the peak is getrusage's ru_maxrss of the whole process. For a save the peak that the load
// left is reset first (/proc/self/clear_refs), so the figure is the peak during the save, with the
// document it saves in memory as the application holds it. For versions it prints
// "json_bytes one_version_bytes two_versions_bytes": the resident size with the loaded document,
// then with that document and a copy of it in which one order was confirmed, as a transaction
// holds the published document and its changed copy.

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

#include <sys/resource.h>

namespace {

long peakFromRusage() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024L;
}

// VmHWM of /proc/self/status, in bytes.
long highWaterMark() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024L;
    return -1;
}

// VmRSS of /proc/self/status, in bytes.
long residentSize() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) * 1024L;
    return -1;
}

// A one-line draft of the first active product, confirmed inside the last shift, where no
// reconciliation is due.
void confirmOneOrder(pizzacore::Database& db) {
    for (const pizzacore::Product& product : db.products) {
        if (!product.active) continue;
        pizzacore::Draft draft;
        draft.lines.push_back(pizzacore::Line::make(product));
        db.confirm(draft, pizzacore::Instant{std::as_const(db).sessions.back().opened.seconds + 600});
        return;
    }
    throw std::runtime_error("no active product");
}

bool resetHighWaterMark() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "uso: PeakMemory prepare|load|save|versions <carpeta>\n";
        return 2;
    }
    const std::string command = argv[1];
    const std::filesystem::path directory = argv[2];
    try {
        if (command == "prepare") {
            const pizzacore::Database db =
                pizzacore::testing::makeDocument(pizzacore::testing::DocumentShape::busyYear(), 2025);
            pizzacore::Repository(directory, true).save(db);
            return 0;
        }
        pizzacore::Repository repository(directory, true);
        if (command == "load") {
            const pizzacore::Database db = repository.load();
            const long peak = peakFromRusage();
            std::cout << pizzacore::toJSON(db).size() << ' ' << peak << '\n';
            return 0;
        }
        if (command == "versions") {
            const pizzacore::Database db = repository.load();
            const std::size_t json = pizzacore::toJSON(db).size();
            const long one = residentSize();
            pizzacore::Database changed = db;
            confirmOneOrder(changed);
            const long two = residentSize();
            if (changed.orders.size() != db.orders.size() + 1) return 3;
            std::cout << json << ' ' << one << ' ' << two << '\n';
            return 0;
        }
        if (command == "save") {
            const pizzacore::Database db = repository.load();
            const std::size_t json = pizzacore::toJSON(db).size();
            if (!resetHighWaterMark()) return 3;
            repository.save(db);
            std::cout << json << ' ' << highWaterMark() << '\n';
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    std::cerr << "orden desconocida: " << command << '\n';
    return 2;
}
