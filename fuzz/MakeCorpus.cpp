// Writes the seed corpus of DecodeFuzzer into a directory: envelopes of small synthetic documents,
// bare documents (which the fuzzer also wraps in a matching envelope), and broken variants of both
// that must be refused: a changed payload, an upper-case digest, another version or format, a
// missing key, a truncated file, a payload that is not Base64, an unsupported schema and a document
// that fails the integrity rules.
//
//     MakeCorpus <directory>

#include "FuzzEnvelope.hpp"

#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>
#include <support/SyntheticDocument.hpp>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

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
    broken("broken-document", envelopeAround(document.substr(0, document.size() - 1)));
    write(directory, "document-broken", document.substr(0, document.size() - 1));

    Database future = plain;
    future.schemaVersion = 2;
    broken("broken-schema", envelopeAround(toJSON(future)));
    Database inconsistent = plain;
    inconsistent.nextNumber = 0;
    broken("broken-numbering", envelopeAround(toJSON(inconsistent)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: MakeCorpus <directory>\n";
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
