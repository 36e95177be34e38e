// Writes the seed corpus of DecodeFuzzer into a directory: envelopes of small synthetic documents
// (also one naming a journal entry), bare documents (which the fuzzer also wraps in a matching
// envelope), and broken variants of both that must be refused: a changed payload, an upper-case
// digest, another version or format, a missing key, a truncated file, a payload that is not
// Base64, a negative journal entry, an unsupported schema and a document that fails the
// integrity rules.
//
// With --journal, writes the seed corpus of JournalFuzzer instead: journal files holding a few
// entries ("J" and the file's bytes) and the changes of a few operations ("C" and the JSON text).
//
//     MakeCorpus <directory>
//     MakeCorpus --journal <directory>

#include "FuzzEnvelope.hpp"

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <support/TestFiles.hpp>

#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace pizzacore;
using pizzacore::testing::DocumentShape;
using pizzacore::testing::makeDocument;
using velmora::fuzz::envelopeAround;

void write(const std::filesystem::path& directory, const std::string& name, std::string_view bytes) {
    std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + (directory / name).string());
}

std::string replaceFirst(std::string text, std::string_view from, std::string_view to) {
    const auto at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("corpus: text not found: " + std::string(from));
    return text.replace(at, from.size(), to);
}

std::string upperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// A handful of records of every kind, so that the seeds stay small and the fuzzer fast.
DocumentShape little(bool awkwardText) {
    return {.orders = 3,
            .linesPerOrder = 1,
            .customers = 2,
            .products = 2,
            .imageBytes = 5,
            .sessions = 2,
            .paidShare = 0.5,
            .awkwardText = awkwardText};
}

// The corpus must mean what its names say: the envelopes decode, the broken files are refused.
void expectDecoded(std::string_view bytes, const std::string& name) {
    try {
        (void)Repository::decode(bytes);
    } catch (const std::exception& failure) {
        throw std::runtime_error("corpus: " + name + " is refused: " + failure.what());
    }
}

void expectRefused(std::string_view bytes, const std::string& name) {
    try {
        (void)Repository::decode(bytes);
    } catch (const PCError&) {
        return;
    } catch (const JSONError&) {
        return;
    }
    throw std::runtime_error("corpus: " + name + " decodes but should be refused");
}

void makeCorpus(const std::filesystem::path& directory) {
    std::filesystem::create_directories(directory);
    const Database plain = makeDocument(little(false), 1);
    const Database awkward = makeDocument(little(true), 2);
    const Database tiny = makeDocument(DocumentShape::tiny(), 3);

    const auto valid = [&](const std::string& name, std::string_view envelope) {
        expectDecoded(envelope, name);
        write(directory, name, envelope);
    };
    const auto broken = [&](const std::string& name, std::string_view envelope) {
        expectRefused(envelope, name);
        write(directory, name, envelope);
    };

    const std::string envelope = Repository::encode(plain);
    valid("envelope-new", Repository::encode(Database()));
    valid("envelope-plain", envelope);
    valid("envelope-awkward", Repository::encode(awkward));
    valid("envelope-tiny", Repository::encode(tiny));
    valid("envelope-journal", Envelope::wrap(toJSON(plain), 42));
    // Bare documents: the fuzzer also reads every input as the document inside a valid envelope.
    const std::string document = toJSON(plain);
    const auto bare = [&](const std::string& name, const std::string& json) {
        expectDecoded(envelopeAround(json), name);
        write(directory, name, json);
    };
    bare("document-new", toJSON(Database()));
    bare("document-plain", document);
    bare("document-awkward", toJSON(awkward));

    const auto payload = envelope.find(R"("payload":")") + 11;
    std::string changed = envelope;
    changed[payload + 20] = changed[payload + 20] == 'A' ? 'B' : 'A';
    broken("broken-payload", changed);
    broken("broken-digest-case",
           envelopeAround(document, "Velmora", "1", upperCase(velmora::fuzz::sha256Hex(document))));
    broken("broken-version", envelopeAround(document, "Velmora", "2"));
    broken("broken-format", envelopeAround(document, "Velmor", "1"));
    broken("broken-missing-key", replaceFirst(envelope, R"(,"version":1)", ""));
    broken("broken-truncated", envelope.substr(0, envelope.size() / 2));
    broken("broken-not-base64", replaceFirst(envelope, R"("payload":")", R"("payload":"!*)"));
    broken("broken-journal", replaceFirst(envelope, R"("payload":")", R"("journal":-1,"payload":")"));
    broken("broken-document", envelopeAround(document.substr(0, document.size() - 1)));
    write(directory, "document-broken", document.substr(0, document.size() - 1));

    Database future = plain;
    future.schemaVersion = 2;
    broken("broken-schema", envelopeAround(toJSON(future)));
    Database inconsistent = plain;
    inconsistent.nextNumber = 0;
    broken("broken-numbering", envelopeAround(toJSON(inconsistent)));
}

// A draft of the first active product.
Draft someDraft(const Database& db) {
    Draft draft;
    for (const Product& product : db.products)
        if (product.active) {
            draft.lines.push_back(Line::make(product));
            break;
        }
    return draft;
}

void makeJournalCorpus(const std::filesystem::path& directory) {
    std::filesystem::create_directories(directory);
    Database db = makeDocument(little(false), 4);
    const Instant now{db.sessions.back().opened.seconds + 3600};
    std::vector<std::pair<std::string, std::function<void(Database&)>>> steps = {
        {"confirm", [&](Database& d) { d.confirm(someDraft(d), now); }},
        {"pay", [&](Database& d) { d.pay(d.orders.back().id, PaymentMethod::cash, 5000, now); }},
        {"draft", [&](Database& d) { d.draft.notes = "Sin gluten / \"extra\""; }},
        {"category",
         [&](Database& d) { d.saveCategory(Category::make("Helados de temporada", false), now); }},
        {"close", [&](Database& d) { d.closeManually(d.sessions.back().id, now); }},
        {"customer",
         [&](Database& d) {
             d.customers.erase(d.customers.begin());
             d.record("Eliminar cliente", "", now);
         }},
    };
    pizzacore::testing::TemporaryDirectory folder("velmora-corpus");
    {
        Repository repository(folder.path(), true);
        repository.save(db);
        for (const auto& [name, step] : steps) {
            Database after = db;
            step(after);
            const DocumentChange change = diff(db, after);
            write(directory, "change-" + name, "C" + encodeChange(change));
            repository.commit("transaction", change, after);
            db = std::move(after);
        }
    }
    // The journal as the repository left it, its log copied in when it closed.
    write(directory, "journal-entries",
          "J" + pizzacore::testing::readFile(folder.path() / "Velmora.journal"));
    {
        Repository repository(folder.path(), true);
        repository.fold(repository.load(), repository.lastSequence());
    }
    write(directory, "journal-folded", "J" + pizzacore::testing::readFile(folder.path() / "Velmora.journal"));
    write(directory, "journal-empty", "J");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--journal") {
        try {
            makeJournalCorpus(argv[2]);
        } catch (const std::exception& failure) {
            std::cerr << "MakeCorpus: " << failure.what() << "\n";
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::cerr << "usage: MakeCorpus [--journal] <directory>\n";
        return 2;
    }
    try {
        makeCorpus(argv[1]);
    } catch (const std::exception& failure) {
        std::cerr << "MakeCorpus: " << failure.what() << "\n";
        return 1;
    }
    return 0;
}
