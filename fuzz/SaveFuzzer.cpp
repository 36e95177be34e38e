// Fuzzes the way into the data file: Repository::encode, which validates a document and writes
// the envelope that save stores. The input picks a small synthetic document and then puts hostile
// values into any of its stored texts, integers, instants and flags: bytes that are not UTF-8,
// control characters, extreme numbers, non-finite instants.
//
// Whatever encode accepts must decode to an equal document; otherwise a save could store a file
// that no load accepts, and the next save would push the last readable copy out. Refusals
// (PCError, JSONError) are fine; anything else escaping, a sanitizer report, or a round trip that
// changes the document is a fault.

#include <PizzaCore/PizzaCore.hpp>
#include <support/DocumentLeaves.hpp>
#include <support/SyntheticDocument.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using pizzacore::Database;
using pizzacore::testing::DocumentShape;

// Reads the input from the front; past its end everything reads as zero.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint64_t word() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value = value << 8 | byte();
        return value;
    }
    std::string text(std::size_t length) {
        std::string out;
        while (out.size() < length && !empty())
            out.push_back(static_cast<char>(byte()));
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The base documents, made once: a handful of each record, plainly or with awkward text.
const std::array<Database, 4>& bases() {
    static const std::array<Database, 4> documents = [] {
        DocumentShape awkward = DocumentShape::tiny();
        awkward.awkwardText = true;
        return std::array<Database, 4>{pizzacore::testing::makeDocument(DocumentShape::tiny(), 1),
                                       pizzacore::testing::makeDocument(DocumentShape::tiny(), 2),
                                       pizzacore::testing::makeDocument(awkward, 3),
                                       pizzacore::testing::makeDocument(awkward, 4)};
    }();
    return documents;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const std::uint8_t choice = input.byte();
    Database db = bases()[choice % bases().size()];
    std::vector<pizzacore::testing::Leaf> leaves = pizzacore::testing::leavesOf(db, (choice & 4) != 0);
    for (int changes = 0; changes < 8 && !input.empty(); ++changes) {
        const std::size_t index = (std::size_t(input.byte()) << 8 | input.byte()) % leaves.size();
        const pizzacore::testing::Leaf leaf = leaves[index];
        if (auto* text = std::get_if<std::string*>(&leaf))
            **text = input.text(input.byte() % 24);
        else if (auto* integer = std::get_if<std::int64_t*>(&leaf))
            **integer = static_cast<std::int64_t>(input.word());
        else if (auto* instant = std::get_if<pizzacore::Instant*>(&leaf)) {
            const std::uint64_t bits = input.word();
            std::memcpy(&(*instant)->seconds, &bits, sizeof bits);
        } else if (auto* flag = std::get_if<bool*>(&leaf))
            **flag = !**flag;
    }
    if (const auto fault = pizzacore::testing::encodeBreaksRoundTrip(db)) {
        std::fprintf(stderr, "SaveFuzzer: %s\n", fault->c_str());
        std::abort();
    }
    return 0;
}
