#include <PizzaCore/Fiscal/CertificateDER.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include <unicode/utf8.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore::CertificateDER {
namespace {

constexpr const char* incompleteMessage = "Certificado DER incompleto.";
constexpr const char* lengthMessage = "Longitud DER inválida.";
constexpr const char* truncatedMessage = "Certificado truncado.";
constexpr const char* emptyMessage = "Certificado vacío.";
constexpr const char* invalidMessage = "Certificado inválido.";
constexpr const char* missingMessage = "Faltan los datos del certificado.";
constexpr const char* issuerMessage = "Nombre del emisor de certificado no admitido.";
constexpr const char* identifierMessage = "Identificador de atributo del certificado no admitido.";

using Span = std::span<const std::uint8_t>;

// An item whose content is a view into the bytes it was read from: the walk below never copies.
struct Item {
    std::uint8_t tag = 0;
    Span data;
};

std::vector<Item> items(Span bytes) {
    std::vector<Item> result;
    const std::size_t n = bytes.size();
    if (n == 0) return result;
    if (n == 1) throw PCError::invalid(incompleteMessage);
    std::size_t p = 0;
    for (;;) {
        const std::uint8_t tag = bytes[p];
        const std::uint8_t first = bytes[p + 1];
        std::size_t start = p + 2;
        std::size_t length = first;
        if (first >= 0x80) {
            const std::size_t count = first & 0x7F;
            // The indefinite form (0x80) has no place in DER; five or more length bytes would
            // describe more than any certificate holds.
            if (count < 1 || count > 4 || count > n - start) throw PCError::invalid(lengthMessage);
            length = 0;
            for (std::size_t i = 0; i < count; ++i)
                length = (length << 8) | bytes[start + i];
            start += count;
        }
        // `start` ≤ n here, so the subtraction cannot wrap.
        if (length > n - start) throw PCError::invalid(truncatedMessage);
        result.push_back({tag, bytes.subspan(start, length)});
        p = start + length;
        if (p == n) return result;
        if (n - p < 2) throw PCError::invalid(incompleteMessage);
    }
}

// The serial number as an unsigned big-endian integer of any length, in decimal.
std::string decimal(Span bytes) {
    std::vector<std::uint8_t> digits{0}; // least significant first
    for (const std::uint8_t byte : bytes) {
        unsigned carry = byte;
        for (std::uint8_t& digit : digits) {
            const unsigned value = digit * 256u + carry;
            digit = static_cast<std::uint8_t>(value % 10);
            carry = value / 10;
        }
        for (; carry > 0; carry /= 10)
            digits.push_back(static_cast<std::uint8_t>(carry % 10));
    }
    while (digits.size() > 1 && digits.back() == 0)
        digits.pop_back();
    std::string text;
    text.reserve(digits.size());
    for (auto it = digits.rbegin(); it != digits.rend(); ++it)
        text.push_back(static_cast<char>('0' + *it));
    return text;
}

// The dotted text of an object identifier. Every sub-identifier, the first included, is a
// base-128 number (the first one holds the first two arcs, so 2.999 spans two bytes); a
// sub-identifier left unfinished at the end is dropped, and one that does not fit in 64 bits
// is refused rather than wrapped.
std::string objectIdentifier(Span bytes) {
    std::vector<std::uint64_t> subidentifiers;
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) {
        if (value > (std::numeric_limits<std::uint64_t>::max() >> 7))
            throw PCError::invalid(identifierMessage);
        value = (value << 7) | (byte & 0x7F);
        if (byte < 0x80) {
            subidentifiers.push_back(value);
            value = 0;
        }
    }
    if (subidentifiers.empty()) throw PCError::invalid(identifierMessage);
    const std::uint64_t first = subidentifiers.front();
    const std::uint64_t root = first < 40 ? 0 : first < 80 ? 1 : 2;
    std::string text = std::to_string(root) + "." + std::to_string(first - 40 * root);
    for (std::size_t i = 1; i < subidentifiers.size(); ++i)
        text.append(".").append(std::to_string(subidentifiers[i]));
    return text;
}

std::string_view attributeName(std::string_view identifier) {
    static constexpr std::pair<std::string_view, std::string_view> table[] = {
        {"2.5.4.3", "CN"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "ST"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.5", "serialNumber"},
        {"1.2.840.113549.1.9.1", "emailAddress"},
    };
    for (const auto& [oid, name] : table)
        if (oid == identifier) return name;
    return identifier;
}

bool isUTF8(Span bytes) {
    const auto length = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes.data(), i, length, c);
        if (c < 0) return false;
    }
    return true;
}

void appendEscaped(std::string& out, Span value) {
    for (const std::uint8_t byte : value) {
        const char c = static_cast<char>(byte);
        if (c == '\\' || c == ',' || c == '+' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
}

std::string issuerText(Span name) {
    const std::vector<Item> rdns = items(name);
    std::vector<std::string> texts;
    texts.reserve(rdns.size());
    for (const Item& rdn : rdns) {
        std::string text;
        bool first = true;
        for (const Item& attribute : items(rdn.data)) {
            const std::vector<Item> parts = items(attribute.data);
            if (parts.size() < 2 || parts[0].data.empty()) continue;
            const std::string identifier = objectIdentifier(parts[0].data);
            if (!isUTF8(parts[1].data)) throw PCError::invalid(issuerMessage);
            if (!first) text.push_back('+');
            first = false;
            text.append(attributeName(identifier)).push_back('=');
            appendEscaped(text, parts[1].data);
        }
        texts.push_back(std::move(text));
    }
    std::string issuer;
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        if (it != texts.rbegin()) issuer.push_back(',');
        issuer.append(*it);
    }
    return issuer;
}

} // namespace

std::vector<Node> nodes(std::span<const std::uint8_t> bytes) {
    std::vector<Node> result;
    for (const Item& item : items(bytes))
        result.push_back({item.tag, Bytes(item.data.begin(), item.data.end())});
    return result;
}

Details details(std::span<const std::uint8_t> der) {
    const std::vector<Item> top = items(der);
    if (top.empty()) throw PCError::invalid(emptyMessage);
    const std::vector<Item> fields = items(top[0].data);
    if (fields.empty()) throw PCError::invalid(invalidMessage);
    const std::vector<Item> tbs = items(fields[0].data);
    const std::size_t s = !tbs.empty() && tbs[0].tag == 0xA0 ? 1 : 0;
    if (tbs.size() < s + 3) throw PCError::invalid(missingMessage);
    return {issuerText(tbs[s + 2].data), decimal(tbs[s].data)};
}

} // namespace pizzacore::CertificateDER
