#include <PizzaCore/Fiscal/FiscalRules.hpp>
#include <PizzaCore/Foundation/PCError.hpp>

#include <openssl/evp.h>

#include <array>
#include <string>
#include <string_view>

namespace pizzacore::FiscalRules {

std::string hash(std::string_view text) {
    std::array<unsigned char, 32> digest{};
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.size())
        throw PCError::invalid("No se pudo calcular la huella SHA-256.");
    constexpr char digits[] = "0123456789ABCDEF";
    std::string result(digest.size() * 2, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        result[2 * i] = digits[digest[i] >> 4];
        result[2 * i + 1] = digits[digest[i] & 15];
    }
    return result;
}

std::string altaHash(std::string_view taxID, std::string_view number, std::string_view date,
                     std::string_view kind, std::string_view tax, std::string_view total,
                     std::string_view previous, std::string_view timestamp) {
    std::string input;
    input.reserve(160 + taxID.size() + number.size() + previous.size() + timestamp.size());
    input.append("IDEmisorFactura=").append(taxID);
    input.append("&NumSerieFactura=").append(number);
    input.append("&FechaExpedicionFactura=").append(date);
    input.append("&TipoFactura=").append(kind);
    input.append("&CuotaTotal=").append(tax);
    input.append("&ImporteTotal=").append(total);
    input.append("&Huella=").append(previous);
    input.append("&FechaHoraHusoGenRegistro=").append(timestamp);
    return hash(input);
}

} // namespace pizzacore::FiscalRules
