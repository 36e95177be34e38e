#include "Bytes.hpp"

#include <cstring>

namespace pizzacore::Base64 {

namespace {

// Two Base64 characters for every 12 bits, and how many of them are "/".
struct PairTable {
    std::array<std::array<char, 2>, 4096> characters{};
    std::array<std::uint8_t, 4096> slashes{};
};

constexpr PairTable makePairTable() {
    PairTable table;
    for (unsigned i = 0; i < 4096; ++i) {
        table.characters[i] = {alphabet[i >> 6], alphabet[i & 63]};
        table.slashes[i] = static_cast<std::uint8_t>((i >> 6 == 63) + ((i & 63) == 63));
    }
    return table;
}
constexpr PairTable pairTable = makePairTable();

// Size of the decoded bytes and the number of padding characters, if the length can be Base64.
std::optional<std::size_t> decodedSize(std::string_view text, std::size_t& padding) {
    if (text.size() % 4 != 0) return std::nullopt;
    padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    return text.size() / 4 * 3 - padding;
}

// Decodes into `p`, which has room for the decoded size; false for text outside the alphabet,
// padding that is not at the end, or unused bits that are not zero (so each text has one meaning).
template <class Byte>
bool decodeInto(std::string_view text, std::size_t padding, Byte* p) {
    const std::size_t full = text.size() / 4 - (padding ? 1 : 0);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t g = 0; g < full; ++g, in += 4, p += 3) {
        const unsigned a = values[in[0]], b = values[in[1]], c = values[in[2]], d = values[in[3]];
        if ((a | b | c | d) & 0x80) return false;
        const unsigned v = a << 18 | b << 12 | c << 6 | d;
        p[0] = static_cast<Byte>(v >> 16);
        p[1] = static_cast<Byte>(v >> 8);
        p[2] = static_cast<Byte>(v);
    }
    if (padding) {
        const unsigned a = values[in[0]], b = values[in[1]];
        const unsigned c = padding == 1 ? values[in[2]] : 0;
        if ((a | b | c) & 0x80) return false;
        const unsigned v = a << 18 | b << 12 | c << 6;
        if (padding == 2 && (v & 0xFFFF)) return false;
        if (padding == 1 && (v & 0xFF)) return false;
        p[0] = static_cast<Byte>(v >> 16);
        if (padding == 1) p[1] = static_cast<Byte>(v >> 8);
    }
    return true;
}

} // namespace

void append(std::string& out, std::span<const std::uint8_t> bytes, bool escapeSlash) {
    // The plain text is written at its exact size, counting its slashes on the way; when they
    // must be escaped the text is then spread from the back, so no worst-case buffer is touched.
    const std::size_t start = out.size();
    const std::size_t groups = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    const std::size_t plain = (groups + (rest ? 1 : 0)) * 4;
    out.resize(start + plain);

    const std::uint8_t* in = bytes.data();
    char* p = out.data() + start;
    std::size_t slashes = 0;
    for (std::size_t g = 0; g < groups; ++g, in += 3, p += 4) {
        const unsigned v = unsigned(in[0]) << 16 | unsigned(in[1]) << 8 | in[2];
        std::memcpy(p, pairTable.characters[v >> 12].data(), 2);
        std::memcpy(p + 2, pairTable.characters[v & 0xFFF].data(), 2);
        slashes += pairTable.slashes[v >> 12] + pairTable.slashes[v & 0xFFF];
    }
    if (rest) {
        const unsigned v = unsigned(in[0]) << 16 | (rest == 2 ? unsigned(in[1]) << 8 : 0u);
        p[0] = alphabet[v >> 18];
        p[1] = alphabet[(v >> 12) & 63];
        p[2] = rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        p[3] = '=';
        slashes += (p[0] == '/') + (p[1] == '/') + (p[2] == '/');
    }
    if (!escapeSlash || slashes == 0) return;

    out.resize(out.size() + slashes);
    char* base = out.data() + start;
    std::size_t source = plain;
    std::size_t target = plain + slashes;
    while (slashes > 0) {
        const char* slash = static_cast<const char*>(::memrchr(base, '/', source));
        const std::size_t segment = source - static_cast<std::size_t>(slash - base);
        target -= segment;
        std::memmove(base + target, slash, segment);
        base[--target] = '\\';
        source = static_cast<std::size_t>(slash - base);
        --slashes;
    }
}

std::string encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    append(out, bytes);
    return out;
}

std::optional<Bytes> decode(std::string_view text) {
    std::size_t padding = 0;
    const auto size = decodedSize(text, padding);
    if (!size) return std::nullopt;
    Bytes out(*size);
    if (!decodeInto(text, padding, out.data())) return std::nullopt;
    return out;
}

std::optional<std::string> decodeToString(std::string_view text, std::size_t spareCapacity) {
    std::size_t padding = 0;
    const auto size = decodedSize(text, padding);
    if (!size) return std::nullopt;
    std::string out;
    out.reserve(*size + spareCapacity);
    out.resize(*size);
    if (!decodeInto(text, padding, out.data())) return std::nullopt;
    return out;
}

} // namespace pizzacore::Base64
