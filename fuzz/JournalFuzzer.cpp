// Fuzzes the reading of the journal of changes, the one file besides the document that opening a
// data folder believes. An input starting with "J" is the rest taken as the bytes of a journal
// file next to a small valid document, opened as Velmora opens it and as velmora-admin reads it;
// any other input is the rest taken as the text of one change, read, applied to that document
// and checked.
//
// Refusals (PCError, JSONError) are the expected answer to bad bytes. Anything else escaping, a
// sanitizer report, the two openings of the same folder giving different documents, a change that
// does not read back as itself, or the check of a change disagreeing with the check of the whole
// document is a fault.

#include <PizzaCore/PizzaCore.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace pizzacore;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "JournalFuzzer: %s\n", what);
    std::abort();
}

// A small valid document with a few records of every kind.
const Database& document() {
    static const Database db = [] {
        Database d;
        const Instant now{800000000};
        d.reconcile(now);
        Product product;
        product.name = "Margarita";
        product.cents = 850;
        d.saveProduct(product, now);
        Customer customer;
        customer.name = "Ana";
        customer.phone = "612345678";
        d.saveCustomer(customer, now);
        Draft draft;
        draft.lines.push_back(Line::make(d.products.front()));
        const Order order = d.confirm(draft, now);
        d.pay(order.id, PaymentMethod::card, std::nullopt, now);
        d.confirm(draft, now);
        return d;
    }();
    return db;
}

// A data folder of this process holding the document, in which the journal is replaced by each
// input.
const fs::path& folder() {
    static const fs::path path = [] {
        char name[] = "/tmp/velmora-journal-fuzz-XXXXXX";
        if (!::mkdtemp(name)) fault("cannot make a folder");
        Repository(name, false).save(document());
        return fs::path(name);
    }();
    return path;
}

// What a reading gives: the document, or that it was refused.
template <class Read>
std::optional<Database> outcome(Read read) {
    try {
        return read();
    } catch (const PCError&) {
        return std::nullopt;
    } catch (const JSONError&) {
        return std::nullopt;
    }
}

void journalFile(std::string_view bytes) {
    const fs::path journal = folder() / "Velmora.journal";
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(journal.string() + suffix);
    {
        std::ofstream out(journal, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // velmora-admin's reading first: it must leave the file as it found it.
    const std::optional<Database> read =
        outcome([] { return Repository(folder(), Repository::Access::readOnly).load(); });
    const std::optional<Database> opened = outcome([] { return Repository(folder(), false).load(); });
    // Velmora may also fail to make the file writable where reading it works; what both read
    // must be the same document.
    if (read && opened && *read != *opened) fault("velmora-admin and Velmora read different documents");
}

std::optional<std::string> verdict(void (*check)(const Database&, const DocumentChange*), const Database& db,
                                   const DocumentChange* change) {
    try {
        check(db, change);
        return std::nullopt;
    } catch (const PCError& error) {
        return error.message();
    }
}

void changeText(std::string_view text) {
    DocumentChange change;
    try {
        change = decodeChange(text);
    } catch (const JSONError&) {
        return;
    } catch (const PCError&) {
        return;
    }
    std::string encoded;
    try {
        encoded = encodeChange(change);
    } catch (const PCError&) {
        return;
    }
    if (!(decodeChange(encoded) == change)) fault("a change does not read back as itself");

    Database db = document();
    apply(db, change);
    const auto whole =
        verdict([](const Database& d, const DocumentChange*) { Repository::validate(d); }, db, nullptr);
    const auto part = verdict(
        [](const Database& d, const DocumentChange* c) { Repository::validateChange(d, *c); }, db, &change);
    if (whole != part) fault("the check of a change disagrees with the check of the whole document");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] == 'J')
        journalFile(rest);
    else
        changeText(rest);
    return 0;
}
