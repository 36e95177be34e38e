#include "Bytes.hpp"

#include <array>
#include <cstring>

namespace pizzacore::Base64 {

namespace {
constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(invalid);
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}
constexpr auto decodeTable = makeDecodeTable();

// Writes one character, escaping "/" when asked; returns the characters written.
inline std::size_t put(char* out, unsigned index, bool escapeSlash) {
    if (index == 63 && escapeSlash) {
        out[0] = '\\';
        out[1] = '/';
        return 2;
    }
    out[0] = alphabet[index];
    return 1;
}
} // namespace

void append(std::string& out, std::span<const std::uint8_t> bytes, bool escapeSlash) {
    const std::size_t groups = bytes.size() / 3;
    const std::size_t rest = bytes.size() % 3;
    const std::size_t start = out.size();
    // Room for the worst case, where every character is an escaped slash.
    const std::size_t encoded = (groups + (rest ? 1 : 0)) * 4;
    out.resize(start + (escapeSlash ? encoded * 2 : encoded));
    char* p = out.data() + start;
    const std::uint8_t* in = bytes.data();
    for (std::size_t g = 0; g < groups; ++g, in += 3) {
        const unsigned v = unsigned(in[0]) << 16 | unsigned(in[1]) << 8 | in[2];
        const unsigned a = v >> 18, b = (v >> 12) & 63, c = (v >> 6) & 63, d = v & 63;
        if (!escapeSlash || (a != 63 && b != 63 && c != 63 && d != 63)) {
            p[0] = alphabet[a];
            p[1] = alphabet[b];
            p[2] = alphabet[c];
            p[3] = alphabet[d];
            p += 4;
        } else {
            p += put(p, a, true);
            p += put(p, b, true);
            p += put(p, c, true);
            p += put(p, d, true);
        }
    }
    if (rest == 1) {
        const unsigned v = unsigned(in[0]) << 16;
        p += put(p, v >> 18, escapeSlash);
        p += put(p, (v >> 12) & 63, escapeSlash);
        *p++ = '=';
        *p++ = '=';
    } else if (rest == 2) {
        const unsigned v = unsigned(in[0]) << 16 | unsigned(in[1]) << 8;
        p += put(p, v >> 18, escapeSlash);
        p += put(p, (v >> 12) & 63, escapeSlash);
        p += put(p, (v >> 6) & 63, escapeSlash);
        *p++ = '=';
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    append(out, bytes);
    return out;
}

std::optional<Bytes> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
    const std::size_t full = text.size() / 4 - (padding ? 1 : 0);

    Bytes out(text.size() / 4 * 3 - padding);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::uint8_t* p = out.data();
    for (std::size_t g = 0; g < full; ++g, in += 4, p += 3) {
        const unsigned a = decodeTable[in[0]], b = decodeTable[in[1]], c = decodeTable[in[2]],
                       d = decodeTable[in[3]];
        if ((a | b | c | d) & 0x80) return std::nullopt;
        const unsigned v = a << 18 | b << 12 | c << 6 | d;
        p[0] = static_cast<std::uint8_t>(v >> 16);
        p[1] = static_cast<std::uint8_t>(v >> 8);
        p[2] = static_cast<std::uint8_t>(v);
    }
    if (padding) {
        const unsigned a = decodeTable[in[0]], b = decodeTable[in[1]];
        const unsigned c = padding == 1 ? decodeTable[in[2]] : 0;
        if ((a | b | c) & 0x80) return std::nullopt;
        const unsigned v = a << 18 | b << 12 | c << 6;
        // The unused low bits of the last character must be zero, so each text has one meaning.
        if (padding == 2 && (v & 0xFFFF)) return std::nullopt;
        if (padding == 1 && (v & 0xFF)) return std::nullopt;
        p[0] = static_cast<std::uint8_t>(v >> 16);
        if (padding == 1) p[1] = static_cast<std::uint8_t>(v >> 8);
    }
    return out;
}

} // namespace pizzacore::Base64
