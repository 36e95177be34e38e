// Fuzzes the certificate reader: any bytes either give an issuer and a decimal serial or are
// refused with a PCError. Anything else escaping or a sanitizer report is a fault.

#include <PizzaCore/PizzaCore.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "CertificateFuzzer: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        pizzacore::CertificateDER::nodes(bytes);
    } catch (const pizzacore::PCError&) {
    }
    try {
        const pizzacore::CertificateDER::Details details = pizzacore::CertificateDER::details(bytes);
        if (details.serial.empty()) fault("empty serial");
        for (const char c : details.serial)
            if (c < '0' || c > '9') fault("serial that is not decimal");
        if (details.serial.size() > 1 && details.serial[0] == '0') fault("serial with a leading zero");
    } catch (const pizzacore::PCError&) {
    }
    return 0;
}
