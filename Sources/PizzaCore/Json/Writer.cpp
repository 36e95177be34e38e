#include "Writer.hpp"

#include <PizzaCore/Json/Json.hpp>

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace pizzacore::json {

namespace {

// 1 for bytes that must be escaped inside a JSON string, 2 for the lead bytes of multi-byte
// UTF-8 sequences (the text then needs a validity check), 0 for the rest.
constexpr std::array<std::uint8_t, 256> makeClassTable() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 1;
    table['"'] = 1;
    table['\\'] = 1;
    table['/'] = 1;
    for (int c = 0x80; c < 0x100; ++c)
        table[c] = 2;
    return table;
}
constexpr auto classTable = makeClassTable();

// Replaces every invalid UTF-8 sequence by U+FFFD (maximal subparts, as the Unicode standard
// recommends), keeping every valid character.
std::string repairUTF8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        }
        std::size_t good = length ? 1 : 0;
        while (good && good < length && i + good < n) {
            const unsigned char next = s[i + good];
            const unsigned char lo = good == 1 ? low : 0x80;
            const unsigned char hi = good == 1 ? high : 0xBF;
            if (next < lo || next > hi) break;
            ++good;
        }
        if (length && good == length) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            i += good ? good : 1;
        }
    }
    return out;
}

} // namespace

void Writer::string(std::string_view text) {
    bool plainASCII = true;
    for (unsigned char c : text)
        if (classTable[c]) {
            plainASCII = false;
            break;
        }
    out_.push_back('"');
    if (plainASCII)
        out_.append(text);
    else if (simdjson::validate_utf8(text.data(), text.size()))
        escaped(text);
    else {
        altered_ = true;
        escaped(repairUTF8(text));
    }
    out_.push_back('"');
}

void Writer::escaped(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (classTable[c] != 1) continue;
        out_.append(text.data() + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"':
            out_.append("\\\"");
            break;
        case '\\':
            out_.append("\\\\");
            break;
        case '/':
            out_.append("\\/");
            break;
        case '\b':
            out_.append("\\b");
            break;
        case '\f':
            out_.append("\\f");
            break;
        case '\n':
            out_.append("\\n");
            break;
        case '\r':
            out_.append("\\r");
            break;
        case '\t':
            out_.append("\\t");
            break;
        default: {
            const char unicode[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out_.append(unicode, 6);
        }
        }
    }
    out_.append(text.data() + runStart, text.size() - runStart);
}

void Writer::integer(std::int64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void Writer::number(double value) {
    if (!std::isfinite(value)) throw JSONError("un instante no es un número finito y no se puede guardar");
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    // The shortest text of a large whole number can be digits only, which a reader takes for an
    // integer and refuses beyond 64 bits; such a value is written with an exponent instead.
    if (std::abs(value) >= 1e18 &&
        std::find_if(buffer, result.ptr, [](char c) { return c == '.' || c == 'e'; }) == result.ptr)
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    out_.append(buffer, result.ptr);
}

void Writer::uuid(const Uuid& value) {
    char buffer[38];
    buffer[0] = '"';
    value.write(buffer + 1);
    buffer[37] = '"';
    out_.append(buffer, sizeof buffer);
}

void Writer::bytes(const Bytes& value) {
    out_.push_back('"');
    Base64::append(out_, value, /*escapeSlash=*/true);
    out_.push_back('"');
}

} // namespace pizzacore::json
