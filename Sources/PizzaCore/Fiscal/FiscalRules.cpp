#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Text.hpp>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_set>

namespace pizzacore::FiscalRules {

namespace {

constexpr const char* profileMessage =
    "Revisa país (ISO de dos letras), moneda (ISO de tres letras) y tipos impositivos.";
constexpr const char* seriesMessage =
    "Usa tres series distintas, de 1 a 30 letras, cifras, guiones o barras.";
constexpr const char* lineCountMessage = "Añade entre 1 y 1000 conceptos.";
constexpr const char* linesMessage = "Revisa los conceptos, cantidades, precios e impuestos.";
constexpr const char* amountMessage = "El importe supera el límite admitido.";
constexpr const char* correctionMessage = "La rectificativa requiere factura de origen y motivo.";
constexpr const char* issuerMessage = "Completa los datos fiscales del emisor.";
constexpr const char* recipientMessage =
    "Una factura completa requiere nombre, identificación fiscal y domicilio del destinatario.";
constexpr const char* simplifiedLimitMessage = "El importe supera el límite de 3.000 EUR para una factura "
                                               "simplificada de hostelería en España. Usa factura completa.";
constexpr const char* inconsistentMessage =
    "Datos inconsistentes. Conserva el archivo y recupera una copia de seguridad válida.";

constexpr std::size_t maximumLines = 1000;
constexpr std::size_t maximumDescription = 500;
constexpr std::int64_t maximumQuantity = 999;
constexpr std::int64_t maximumAmount = 99'999'999;
constexpr std::int64_t maximumRate = 10000;
constexpr std::int64_t simplifiedLimit = 300'000;

bool isUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

// Exactly `length` ASCII capital letters.
bool isUpperCode(std::string_view text, std::size_t length) {
    return text.size() == length && std::all_of(text.begin(), text.end(), isUpperLetter);
}

// 1 to 30 characters, each an ASCII letter, digit, slash or hyphen.
bool isSeries(std::string_view text) {
    if (text.empty() || text.size() > 30) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return isUpperLetter(c) || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-';
    });
}

bool hasUniqueRates(const std::vector<std::int64_t>& rates) {
    std::vector<std::int64_t> sorted = rates;
    std::sort(sorted.begin(), sorted.end());
    return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

// Code points of UTF-8 text as ICU decodes it (each ill-formed sequence counts as one
// replacement character), stopping once past `limit`.
std::size_t codePoints(std::string_view text, std::size_t limit) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    std::size_t count = 0;
    for (std::int64_t i = 0; i < length && count <= limit; ++count) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        (void)c;
    }
    return count;
}

// Counts user-perceived characters (extended grapheme clusters) of UTF-8 text, as the operator
// sees them: "ñ" is one character whether precomposed or written with a combining tilde, and an
// emoji sequence is one. Every character holds at least one byte and one code point, so text
// within the limit by either measure is never segmented; the iterator is made only for the rare
// text that needs it, and reused.
class CharacterCounter {
public:
    // True when `text` has at most `limit` characters.
    bool fits(std::string_view text, std::size_t limit) {
        if (text.size() <= limit || codePoints(text, limit) <= limit) return true;
        if (!iterator_ && !unavailable_) {
            UErrorCode status = U_ZERO_ERROR;
            iterator_.reset(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            if (U_FAILURE(status)) {
                iterator_.reset();
                unavailable_ = true;
            }
        }
        // Without segmentation data, go by the code points, already past the limit.
        if (!iterator_) return false;

        UErrorCode status = U_ZERO_ERROR;
        UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status);
        std::size_t count = 0;
        if (U_SUCCESS(status)) iterator_->setText(utext, status);
        if (U_SUCCESS(status)) {
            iterator_->first();
            while (count <= limit && iterator_->next() != icu::BreakIterator::DONE)
                ++count;
        }
        // The iterator keeps a shallow clone pointing into `text`; it only reads it again after
        // the next setText, so closing this handle is enough.
        utext_close(utext);
        return U_SUCCESS(status) && count <= limit;
    }

private:
    std::unique_ptr<icu::BreakIterator> iterator_;
    bool unavailable_ = false;
};

bool isValidLine(const FiscalLine& line, InvoiceKind kind, CharacterCounter& counter) {
    if (isBlank(line.description) || !counter.fits(line.description, maximumDescription)) return false;
    if (line.quantity == 0 || line.quantity < -maximumQuantity || line.quantity > maximumQuantity)
        return false;
    if (line.unitGross < 0 || line.unitGross > maximumAmount) return false;
    if (line.rate < 0 || line.rate > maximumRate) return false;
    if (line.quantity < 0 && !rectifies(kind)) return false;
    return true;
}

} // namespace

void validateSettings(const FiscalSettings& settings) {
    const bool profileValid =
        isUpperCode(settings.country, 2) && isUpperCode(settings.currency, 3) && !isBlank(settings.taxName) &&
        !settings.rates.empty() &&
        std::all_of(settings.rates.begin(), settings.rates.end(),
                    [](std::int64_t rate) { return rate >= 0 && rate <= maximumRate; }) &&
        hasUniqueRates(settings.rates);
    if (!profileValid) throw PCError::invalid(profileMessage);

    const std::string& full = settings.fullSeries;
    const std::string& simple = settings.simpleSeries;
    const std::string& correction = settings.correctionSeries;
    const bool seriesValid = full != simple && full != correction && simple != correction && isSeries(full) &&
                             isSeries(simple) && isSeries(correction);
    if (!seriesValid) throw PCError::invalid(seriesMessage);
}

void validate(const InvoiceProposal& proposal, const FiscalSettings& settings, bool complete) {
    if (proposal.lines.empty() || proposal.lines.size() > maximumLines)
        throw PCError::invalid(lineCountMessage);

    CharacterCounter counter;
    for (const FiscalLine& line : proposal.lines)
        if (!isValidLine(line, proposal.kind, counter)) throw PCError::invalid(linesMessage);

    // Every line is now within its bounds, so the sum cannot overflow.
    const std::int64_t gross = proposal.gross();
    if (gross > maximumAmount || gross < -maximumAmount) throw PCError::invalid(amountMessage);

    if (rectifies(proposal.kind) && (!proposal.correctionOf || isBlank(proposal.reason)))
        throw PCError::invalid(correctionMessage);

    if (!complete) return;

    if (settings.issuerName.empty() || settings.issuerTaxID.empty() || settings.issuerAddress.empty())
        throw PCError::invalid(issuerMessage);

    if (requiresRecipient(proposal.kind) &&
        (proposal.recipientName.empty() || proposal.recipientTaxID.empty() ||
         proposal.recipientAddress.empty()))
        throw PCError::invalid(recipientMessage);

    if (proposal.kind == InvoiceKind::simplified && gross > simplifiedLimit)
        throw PCError::invalid(simplifiedLimitMessage);
}

void validateArchive(const FiscalState& state) {
    validateSettings(state.settings);
    for (const InvoiceProposal& proposal : state.proposals)
        validate(proposal, state.settings, false);

    std::unordered_set<Uuid> ids;
    ids.reserve(state.proposals.size());
    for (const InvoiceProposal& proposal : state.proposals)
        if (!ids.insert(proposal.id).second) throw PCError::invalid(inconsistentMessage);
    if (!state.invoices.empty() || !state.events.empty()) throw PCError::invalid(inconsistentMessage);
}

} // namespace pizzacore::FiscalRules
