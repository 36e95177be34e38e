#include "Uuid.hpp"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace pizzacore {

namespace {
constexpr char upperHex[] = "0123456789ABCDEF";

} // namespace

Uuid Uuid::random() {
    Uuid uuid;
    std::size_t filled = 0;
    while (filled < uuid.bytes.size()) {
        ssize_t n = getrandom(uuid.bytes.data() + filled, uuid.bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        filled += static_cast<std::size_t>(n);
    }
    uuid.bytes[6] = static_cast<std::uint8_t>((uuid.bytes[6] & 0x0F) | 0x40); // version 4
    uuid.bytes[8] = static_cast<std::uint8_t>((uuid.bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    return uuid;
}

namespace {
// The value of each hexadecimal digit in either case; -1 for every other byte.
constexpr std::array<std::int8_t, 256> makeHexValues() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int c = 0; c < 10; ++c)
        table['0' + c] = static_cast<std::int8_t>(c);
    for (int c = 0; c < 6; ++c)
        table['A' + c] = table['a' + c] = static_cast<std::int8_t>(10 + c);
    return table;
}
constexpr auto hexValues = makeHexValues();

// Where the two digits of each byte start in the canonical text.
constexpr std::array<std::uint8_t, 16> digitOffsets = {0,  2,  4,  6,  9,  11, 14, 16,
                                                       19, 21, 24, 26, 28, 30, 32, 34};

// The two upper-case digits of every byte value.
constexpr std::array<char, 512> makeHexPairs() {
    std::array<char, 512> pairs{};
    for (int b = 0; b < 256; ++b) {
        pairs[2 * b] = upperHex[b >> 4];
        pairs[2 * b + 1] = upperHex[b & 15];
    }
    return pairs;
}
constexpr auto hexPairs = makeHexPairs();
} // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    Uuid uuid;
    int invalid = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        const int high = hexValues[static_cast<unsigned char>(text[digitOffsets[i]])];
        const int low = hexValues[static_cast<unsigned char>(text[digitOffsets[i] + 1])];
        invalid |= high | low; // any -1 sets the sign bit
        uuid.bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    if (invalid < 0) return std::nullopt;
    return uuid;
}

void Uuid::write(char* out) const {
    for (std::size_t i = 0; i < 16; ++i)
        std::memcpy(out + digitOffsets[i], &hexPairs[2 * bytes[i]], 2);
    out[8] = out[13] = out[18] = out[23] = '-';
}

std::string Uuid::text() const {
    std::string result(36, '\0');
    write(result.data());
    return result;
}

} // namespace pizzacore

std::size_t std::hash<pizzacore::Uuid>::operator()(const pizzacore::Uuid& uuid) const noexcept {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, uuid.bytes.data(), 8);
    std::memcpy(&b, uuid.bytes.data() + 8, 8);
    return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ULL));
}
