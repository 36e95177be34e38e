#pragma once

// The XAdES-EPES enveloped signature of fiscal records: RSA with SHA-256 over the canonical
// SignedInfo, with three references (the whole record, the signed properties, the key
// information), the signing certificate, the signing time and the Spanish public
// administration's signature policy. Signing ends by verifying its own output.

#include <PizzaCore/Foundation/Bytes.hpp>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace pizzacore::FiscalSignature {

// The XML-DSig namespace, bound to the prefix "ds" in signatures.
inline constexpr std::string_view ds = "http://www.w3.org/2000/09/xmldsig#";

struct Identity;

// A private key for signing. Movable, not copyable; a moved-from key signs nothing.
class PrivateKey {
public:
    // A key in PEM form (PKCS#8 or traditional, encrypted when a password is given).
    static PrivateKey fromPEM(std::string_view pem, std::string_view password = {});
    // The key and certificate of a PKCS#12 file.
    static Identity fromPKCS12(std::span<const std::uint8_t> bytes, std::string_view password);

    PrivateKey(PrivateKey&&) noexcept;
    PrivateKey& operator=(PrivateKey&&) noexcept;
    ~PrivateKey();

    // The key behind the handle; only the signature's implementation can use it.
    struct Handle;
    const Handle* handle() const { return handle_.get(); }

private:
    explicit PrivateKey(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

struct Identity {
    PrivateKey key;
    Bytes certificateDER;
};

// The record with its signature: appended to the root of a RegistroAlta, to the Evento of a
// RegistroEvento. `timestamp` is the signing time, a date and time with its zone
// ("2025-02-23T13:45:11+01:00"); the certificate must be valid then and the key RSA of at least
// 2048 bits. The first reference covers the whole document, processing instructions outside the
// root included. Throws PCError.
Bytes sign(std::span<const std::uint8_t> xml, const PrivateKey& key,
           std::span<const std::uint8_t> certificateDER, std::string_view timestamp);

// Returns when the record's signature and its three references are intact, the certificate in
// KeyInfo holds an RSA key of at least 2048 bits and is the one the signed properties name;
// throws PCError with the reason otherwise. Base64 values may be broken by white space. Checks
// neither the certificate's validity nor the signing time: a record stays verifiable after its
// certificate expires.
void verify(std::span<const std::uint8_t> xml);

// XML escaping of text: "&", "<", ">", the double quote and "'", ampersands first.
std::string escape(std::string_view text);

} // namespace pizzacore::FiscalSignature
