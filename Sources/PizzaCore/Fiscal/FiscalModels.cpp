#include "FiscalModels.hpp"

#include <limits>

namespace pizzacore {

namespace {

__extension__ typedef __int128 Wide;

constexpr std::int64_t maximum = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t minimum = std::numeric_limits<std::int64_t>::min();

// a + b, held at the 64-bit limits instead of overflowing.
std::int64_t saturatedSum(std::int64_t a, std::int64_t b) {
    std::int64_t result = 0;
    if (!__builtin_add_overflow(a, b, &result)) return result;
    return b > 0 ? maximum : minimum;
}

// The net of a tax-included amount at `rate` (hundredths of a per cent), rounded half away
// from zero: s × ⌊(|g| × 10000 + ⌊d / 2⌋) / d⌋ with d = 10000 + rate. Computed in 128 bits so
// that no gross and no rate can overflow; the result never exceeds |gross|.
std::int64_t netOf(std::int64_t gross, std::int64_t rate) {
    if (rate < 0 || gross == 0) return gross;
    const Wide magnitude = gross < 0 ? -static_cast<Wide>(gross) : static_cast<Wide>(gross);
    const Wide divisor = static_cast<Wide>(10000) + rate;
    const Wide net = (magnitude * 10000 + divisor / 2) / divisor;
    return static_cast<std::int64_t>(gross < 0 ? -net : net);
}

} // namespace

std::int64_t FiscalLine::gross() const {
    std::int64_t result = 0;
    if (!__builtin_mul_overflow(quantity, unitGross, &result)) return result;
    return (quantity < 0) == (unitGross < 0) ? maximum : minimum;
}

std::int64_t FiscalLine::net() const {
    return netOf(gross(), rate);
}

std::int64_t FiscalLine::tax() const {
    const std::int64_t total = gross();
    return total - netOf(total, rate);
}

std::int64_t InvoiceProposal::gross() const {
    std::int64_t sum = 0;
    for (const FiscalLine& line : lines)
        sum = saturatedSum(sum, line.gross());
    return sum;
}

std::int64_t InvoiceProposal::net() const {
    std::int64_t sum = 0;
    for (const FiscalLine& line : lines)
        sum = saturatedSum(sum, line.net());
    return sum;
}

std::int64_t InvoiceProposal::tax() const {
    std::int64_t sum = 0;
    for (const FiscalLine& line : lines)
        sum = saturatedSum(sum, line.tax());
    return sum;
}

} // namespace pizzacore
