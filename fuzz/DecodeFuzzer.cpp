// Fuzzes Repository::decode, the gate that every data file and every backup passes before it is
// believed, and compares the streamed reading of the envelope with a whole-tree parse. Each input
// is tried twice: as the bytes of a file (an envelope, damaged or not), and as the document bytes
// inside an envelope whose digest matches, so that the mutations also reach the document reader
// and the integrity validation behind the digest check.
//
// Refusals (PCError, JSONError) are the expected answer to bad bytes. Anything else escaping,
// a sanitizer report, or a decoded document that does not save and read back as itself is a fault.

#include "FuzzEnvelope.hpp"

#include <PizzaCore/Persistence/Envelope.hpp>
#include <PizzaCore/Persistence/Repository.hpp>
#include <PizzaCore/PizzaCore.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using pizzacore::Database;
using pizzacore::Repository;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "DecodeFuzzer: %s\n", what);
    std::abort();
}

// What a reading of an envelope gives: the document, the core's refusal word for word, or that
// the text could not be read (the JSON readers may word that differently).
std::string outcome(std::string (*unwrap)(std::string_view), std::string_view file) {
    try {
        return "document " + unwrap(file);
    } catch (const pizzacore::PCError& error) {
        return "refused " + error.message();
    } catch (const pizzacore::JSONError&) {
        return "unreadable";
    }
}

void check(std::string_view file) {
    // The envelope followed as a stream and parsed as a whole tree agree on every input.
    if (outcome(pizzacore::Envelope::unwrap, file) != outcome(pizzacore::Envelope::unwrapJSON, file))
        fault("the streamed reading of an envelope disagrees with the parsed one");

    std::optional<Database> decoded;
    try {
        decoded = Repository::decode(file);
    } catch (const pizzacore::PCError&) {
        return;
    } catch (const pizzacore::JSONError&) {
        return;
    }
    // A document that was accepted must be saveable, unchanged, and in one canonical form.
    const std::string encoded = Repository::encode(*decoded);
    const Database again = Repository::decode(encoded);
    if (!(again == *decoded)) fault("a decoded document reads back different after encoding");
    if (Repository::encode(again) != encoded) fault("encoding a decoded document is not stable");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check(input);
    check(velmora::fuzz::envelopeAround(input));
    return 0;
}
