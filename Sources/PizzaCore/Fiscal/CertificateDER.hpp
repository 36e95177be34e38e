#pragma once

// A minimal reader of DER-encoded X.509 certificates: the issuer's distinguished name and the
// serial number, the two values the signing-certificate reference of a fiscal signature names.
// It walks tag-length-value items one level at a time; it checks no signature, validity or chain.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pizzacore::CertificateDER {

// One DER item: the identifier octet as read and a copy of its content bytes.
struct Node {
    std::uint8_t tag = 0;
    Bytes data;

    bool operator==(const Node&) const = default;
};

// The issuer as "CN=…,O=…,C=…" (last name component first, values escaped) and the serial number
// as unsigned decimal digits.
struct Details {
    std::string issuer;
    std::string serial;

    bool operator==(const Details&) const = default;
};

// The consecutive DER items of `bytes`. Every length is checked against the input; throws PCError
// for an item that is incomplete, has an unsupported length form or runs past the end.
std::vector<Node> nodes(std::span<const std::uint8_t> bytes);

// The issuer and serial number of a certificate's DER bytes; throws PCError when they cannot be
// read.
Details details(std::span<const std::uint8_t> der);

} // namespace pizzacore::CertificateDER
