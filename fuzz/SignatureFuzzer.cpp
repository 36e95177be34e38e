// Fuzzes the verification of signed fiscal records: any bytes are either a valid signed record or
// refused with a PCError, never a crash, a hang or a sanitizer report. Seeds are signed records;
// mutations reach the parser, the DOCTYPE refusal, the XPath searches, the certificate and the
// three references.

#include <PizzaCore/PizzaCore.hpp>

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        pizzacore::FiscalSignature::verify(std::span<const std::uint8_t>(data, size));
    } catch (const pizzacore::PCError&) {
    }
    return 0;
}
