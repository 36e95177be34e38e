#include "RecordText.hpp"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdint>
#include <memory>

namespace pizzacore::RecordText {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of `count` ASCII digits starting at `at`, or -1.
int number(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!isDigit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool isDay(int year, int month, int day) {
    static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

} // namespace

bool isXMLText(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
        if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) return false;
        if (c == 0xFFFE || c == 0xFFFF) return false;
    }
    return true;
}

std::size_t codePoints(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

std::string_view cut(std::string_view text, std::size_t limit) {
    if (codePoints(text) <= limit) return text;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> iterator(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status);
    std::size_t end = 0;
    if (U_SUCCESS(status)) {
        iterator->setText(utext, status);
        std::size_t previous = 0;
        std::size_t count = 0;
        for (std::int32_t boundary = iterator->next();
             U_SUCCESS(status) && boundary != icu::BreakIterator::DONE; boundary = iterator->next()) {
            const auto next = static_cast<std::size_t>(boundary);
            count += codePoints(text.substr(previous, next - previous));
            if (count > limit) break;
            end = next;
            previous = next;
        }
    }
    utext_close(utext);
    if (U_FAILURE(status)) {
        // Without segmentation data, cut at the last whole code point within the limit.
        std::size_t count = 0;
        for (end = 0; end < text.size(); ++end)
            if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && ++count > limit) break;
    }
    return text.substr(0, end);
}

bool isDate(std::string_view text) {
    if (text.size() != 10 || text[2] != '-' || text[5] != '-') return false;
    return isDay(number(text, 6, 4), number(text, 3, 2), number(text, 0, 2));
}

bool isTimestamp(std::string_view text) {
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return false;
    if (!isDay(number(text, 0, 4), number(text, 5, 2), number(text, 8, 2))) return false;
    const int hour = number(text, 11, 2);
    const int minute = number(text, 14, 2);
    const int second = number(text, 17, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return false;
    std::size_t p = 19;
    if (text[p] == '.') {
        const std::size_t start = ++p;
        while (p < text.size() && isDigit(text[p]))
            ++p;
        if (p == start) return false;
    }
    const std::string_view zone = text.substr(p);
    if (zone == "Z") return true;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') return false;
    const int zoneHours = number(zone, 1, 2);
    const int zoneMinutes = number(zone, 4, 2);
    if (zoneHours < 0 || zoneMinutes < 0 || zoneMinutes > 59) return false;
    return zoneHours * 60 + zoneMinutes <= 14 * 60;
}

bool isFingerprint(std::string_view text) {
    if (text.size() != 64) return false;
    for (const char c : text)
        if (!isDigit(c) && !(c >= 'A' && c <= 'F')) return false;
    return true;
}

} // namespace pizzacore::RecordText
