#include "Folding.hpp"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <climits>
#include <stdexcept>

namespace pizzacore {

// A primary-strength Spanish collation key would also ignore case and accents, but it cannot
// answer "contains", and it keeps ñ apart from n while the other accents fold away; folding to a
// string gives one answer for equality and for containment, and the same one for every name check.
std::string foldedForComparison(std::string_view text) {
    // ICU measures text in 32-bit lengths; a name beyond that is compared as it is.
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) throw std::runtime_error("No se pudo cargar la normalización Unicode.");

    icu::UnicodeString folded =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    folded.foldCase(U_FOLD_CASE_DEFAULT);
    icu::UnicodeString decomposed = nfd->normalize(folded, status);
    if (U_FAILURE(status)) throw std::runtime_error("No se pudo normalizar el texto.");

    icu::UnicodeString bare;
    for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) bare.append(c);
        i += U16_LENGTH(c);
    }
    std::string out;
    bare.toUTF8String(out);
    return out;
}

} // namespace pizzacore
