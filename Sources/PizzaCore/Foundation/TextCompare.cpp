#include "TextCompare.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <climits>
#include <cstdlib>

namespace pizzacore {

namespace {

constexpr std::string_view fallbackLocale = "es_ES";

// ICU measures text in 32-bit lengths.
bool fitsICU(std::string_view text) {
    return text.size() <= static_cast<std::size_t>(INT32_MAX);
}

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Case folding, canonical decomposition, and the combining marks (accents, tilde, diaeresis,
// cedilla) left out. `turkic` keeps I/ı and İ/i paired as Turkish and Azerbaijani write them.
std::string fold(std::string_view text, bool turkic) {
    if (!fitsICU(text)) return std::string(text);
    if (!turkic && isAscii(text)) {
        // Folding, decomposing and stripping leave ASCII text as its lower case.
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }

    icu::UnicodeString folded = unicode(text);
    if (turkic) {
        // Lower-casing in Turkish first turns "I" followed by a combining dot above into "i".
        folded.toLower(icu::Locale("tr"));
        folded.foldCase(U_FOLD_CASE_EXCLUDE_SPECIAL_I);
    } else {
        folded.foldCase(U_FOLD_CASE_DEFAULT);
    }

    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    icu::UnicodeString decomposed;
    if (U_SUCCESS(status)) decomposed = nfd->normalize(folded, status);
    // Without the normalization data the folded text is still a usable, if stricter, form.
    const icu::UnicodeString& source = U_SUCCESS(status) ? decomposed : folded;

    std::string out;
    out.reserve(text.size());
    for (int32_t i = 0; i < source.length();) {
        const UChar32 c = source.char32At(i);
        i += U16_LENGTH(c);
        if (u_charType(c) == U_NON_SPACING_MARK) continue;
        char buffer[U8_MAX_LENGTH];
        int32_t length = 0;
        U8_APPEND_UNSAFE(buffer, length, c);
        out.append(buffer, static_cast<std::size_t>(length));
    }
    return out;
}

bool isTurkic(std::string_view locale) {
    std::string language(locale.substr(0, locale.find_first_of("_-@.")));
    std::transform(language.begin(), language.end(), language.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return language == "tr" || language == "az";
}

} // namespace

std::string textLocale(const char* lcAll, const char* lcCollate, const char* lang) {
    for (const char* value : {lcAll, lcCollate, lang}) {
        if (value == nullptr || *value == '\0') continue;
        std::string_view name(value);
        name = name.substr(0, name.find_first_of(".@"));
        if (name.empty() || name == "C" || name == "POSIX") return std::string(fallbackLocale);
        return std::string(name);
    }
    return std::string(fallbackLocale);
}

std::string textLocale() {
    return textLocale(std::getenv("LC_ALL"), std::getenv("LC_COLLATE"), std::getenv("LANG"));
}

bool equalIgnoringCaseAndDiacritics(std::string_view a, std::string_view b) {
    return fold(a, false) == fold(b, false);
}

// The letters from U+0080 to U+024F (Latin-1, Latin Extended-A and -B) fold one at a time: case
// folding needs no context, and each letter decomposes into a base letter followed by its marks in
// canonical order, so a text made of them folds to the concatenation of its letters' folded
// forms. Each form is worked out with ICU the first time the matcher meets the letter.
struct InsensitiveMatcher::Latin {
    static constexpr UChar32 first = 0x80;
    static constexpr UChar32 end = 0x250;
    std::array<std::string, end - first> forms;
    std::bitset<end - first> known;
};

InsensitiveMatcher::InsensitiveMatcher(std::string_view locale)
    : latin_(std::make_unique<Latin>())
    , turkic_(isTurkic(locale)) {}

InsensitiveMatcher::~InsensitiveMatcher() = default;
InsensitiveMatcher::InsensitiveMatcher(InsensitiveMatcher&&) noexcept = default;
InsensitiveMatcher& InsensitiveMatcher::operator=(InsensitiveMatcher&&) noexcept = default;

void InsensitiveMatcher::fold(std::string_view text, std::string& out) {
    out.clear();
    // Turkish lower-casing looks at the next character, so those locales always take the long way.
    if (!turkic_ && fitsICU(text)) {
        const auto length = static_cast<int32_t>(text.size());
        bool letterByLetter = true;
        int32_t i = 0;
        while (i < length) {
            const auto byte = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
            if (byte < 0x80) {
                out.push_back(byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a')
                                                         : static_cast<char>(byte));
                ++i;
                continue;
            }
            const int32_t start = i;
            UChar32 c = 0;
            U8_NEXT(text.data(), i, length, c);
            if (c < Latin::first || c >= Latin::end) {
                // Another script, a combining mark or broken UTF-8: fold the whole text.
                letterByLetter = false;
                break;
            }
            const auto index = static_cast<std::size_t>(c - Latin::first);
            if (!latin_->known[index]) {
                latin_->forms[index] = pizzacore::fold(
                    text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)), false);
                latin_->known.set(index);
            }
            out += latin_->forms[index];
        }
        if (letterByLetter) return;
    }
    out = pizzacore::fold(text, turkic_);
}

std::string InsensitiveMatcher::folded(std::string_view text) {
    std::string out;
    fold(text, out);
    return out;
}

bool InsensitiveMatcher::contains(std::string_view foldedText, std::string_view foldedQuery) {
    // Folded texts are valid UTF-8, so a byte match always starts and ends on whole characters.
    return foldedText.find(foldedQuery) != std::string_view::npos;
}

bool InsensitiveMatcher::textContains(std::string_view text, std::string_view query) {
    return contains(folded(text), folded(query));
}

CaseInsensitiveMatcher::CaseInsensitiveMatcher(std::string_view locale)
    : turkic_(isTurkic(locale)) {}

std::string CaseInsensitiveMatcher::folded(std::string_view text) const {
    if (!fitsICU(text)) return std::string(text);
    if (!turkic_ && isAscii(text)) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    icu::UnicodeString source = unicode(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    // Composing first lets a decomposed capital fold like its precomposed form.
    if (U_SUCCESS(status)) source = nfc->normalize(source, status);
    if (turkic_) {
        source.toLower(icu::Locale("tr"));
        source.foldCase(U_FOLD_CASE_EXCLUDE_SPECIAL_I);
    } else {
        source.foldCase(U_FOLD_CASE_DEFAULT);
    }
    // Full case folding can leave a base letter and a combining mark apart ("ǰ"); compose again.
    if (U_SUCCESS(status)) {
        icu::UnicodeString composed = nfc->normalize(source, status);
        if (U_SUCCESS(status)) source = std::move(composed);
    }
    std::string out;
    source.toUTF8String(out);
    return out;
}

bool CaseInsensitiveMatcher::contains(std::string_view foldedText, std::string_view foldedQuery) {
    for (std::size_t at = foldedText.find(foldedQuery); at != std::string_view::npos;
         at = foldedText.find(foldedQuery, at + 1)) {
        // A match that ends just before a combining mark would split a letter the composition
        // could not join (a base letter with a rare mark); such a match does not count.
        const std::size_t end = at + foldedQuery.size();
        if (end >= foldedText.size() || static_cast<unsigned char>(foldedText[end]) < 0x80) return true;
        UChar32 next = 0;
        auto i = static_cast<int32_t>(end);
        U8_NEXT(foldedText.data(), i,
                static_cast<int32_t>(std::min<std::size_t>(foldedText.size(), INT32_MAX)), next);
        if (u_getCombiningClass(next) == 0 && u_charType(next) != U_NON_SPACING_MARK) return true;
    }
    return false;
}

bool CaseInsensitiveMatcher::textContains(std::string_view text, std::string_view query) const {
    return contains(folded(text), folded(query));
}

struct NaturalOrder::Rules {
    // Absent only when the collation data cannot be loaded; the order then falls back to the
    // folded texts' code point order, which still ignores letter case.
    std::unique_ptr<icu::Collator> collator;
};

NaturalOrder::NaturalOrder(std::string_view locale)
    : rules_(std::make_unique<Rules>()) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale(std::string(locale).c_str()), status));
    if (U_FAILURE(status) || !collator) return;
    // Secondary strength: accents still order names, letter case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    if (U_SUCCESS(status)) rules_->collator = std::move(collator);
}

NaturalOrder::~NaturalOrder() = default;
NaturalOrder::NaturalOrder(NaturalOrder&&) noexcept = default;
NaturalOrder& NaturalOrder::operator=(NaturalOrder&&) noexcept = default;

int NaturalOrder::compare(std::string_view a, std::string_view b) const {
    if (rules_->collator && fitsICU(a) && fitsICU(b)) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result =
            rules_->collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                          icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
        if (U_SUCCESS(status)) return result;
    }
    return key(a).compare(key(b));
}

std::string NaturalOrder::key(std::string_view text) const {
    if (rules_->collator && fitsICU(text)) {
        const icu::UnicodeString source = unicode(text);
        std::string out(std::max<std::size_t>(32, text.size() * 2), '\0');
        int32_t length = rules_->collator->getSortKey(source, reinterpret_cast<uint8_t*>(out.data()),
                                                      static_cast<int32_t>(out.size()));
        if (length > static_cast<int32_t>(out.size())) {
            out.resize(static_cast<std::size_t>(length));
            length = rules_->collator->getSortKey(source, reinterpret_cast<uint8_t*>(out.data()), length);
        }
        if (length > 0) {
            // The key ends in a zero byte that no key holds elsewhere; byte order ignores it.
            out.resize(static_cast<std::size_t>(length - 1));
            return out;
        }
    }
    return fold(text, false);
}

} // namespace pizzacore
