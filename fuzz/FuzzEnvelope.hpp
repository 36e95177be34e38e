#pragma once

// An envelope written independently of the repository, so that the fuzzer and its corpus can wrap
// any bytes, valid documents or not, with a digest that matches them.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <openssl/evp.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora::fuzz {

inline std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += digits[digest[i] >> 4];
        text += digits[digest[i] & 0xF];
    }
    return text;
}

// {"format":"Velmora","payload":…,"sha256":…,"version":1} around `document`, with the given
// format, version and digest text when a broken envelope is wanted.
inline std::string envelopeAround(std::string_view document, std::string_view format = "Velmora",
                                  std::string_view version = "1", std::string digest = {}) {
    if (digest.empty()) digest = sha256Hex(document);
    std::string text = R"({"format":")";
    text += format;
    text += R"(","payload":")";
    pizzacore::Base64::append(
        text, std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size()), true);
    text += R"(","sha256":")" + digest + R"(","version":)";
    text += version;
    text += "}";
    return text;
}

} // namespace velmora::fuzz
