#include "SigningKey.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace pizzacore::FiscalSignature {
namespace {

constexpr const char* pemMessage = "No se pudo leer la clave privada: revisa el archivo PEM y su contraseña.";
constexpr const char* pkcs12Message =
    "No se pudo leer el archivo PKCS#12: revisa el archivo y su contraseña.";
constexpr const char* pkcs12ContentMessage =
    "El archivo PKCS#12 no contiene una clave privada con su certificado.";

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct PKCS12Free {
    void operator()(PKCS12* p12) const { PKCS12_free(p12); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

// Hands the password to OpenSSL; an empty one makes reading an encrypted key fail.
int passwordCallback(char* buffer, int size, int, void* data) {
    const auto* password = static_cast<const std::string*>(data);
    if (password->empty() || size <= 0) return 0;
    const int length =
        static_cast<int>(std::min<std::size_t>(password->size(), static_cast<std::size_t>(size)));
    std::memcpy(buffer, password->data(), static_cast<std::size_t>(length));
    return length;
}

[[noreturn]] void fail(const char* message) {
    ERR_clear_error();
    throw PCError::invalid(message);
}

} // namespace

PrivateKey::PrivateKey(std::unique_ptr<Handle> handle)
    : handle_(std::move(handle)) {}
PrivateKey::PrivateKey(PrivateKey&&) noexcept = default;
PrivateKey& PrivateKey::operator=(PrivateKey&&) noexcept = default;
PrivateKey::~PrivateKey() = default;

PrivateKey PrivateKey::fromPEM(std::string_view pem, std::string_view password) {
    if (pem.size() > static_cast<std::size_t>(INT_MAX)) fail(pemMessage);
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) fail(pemMessage);
    std::string secret(password);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, passwordCallback, &secret);
    std::fill(secret.begin(), secret.end(), '\0');
    if (!key) fail(pemMessage);
    return PrivateKey(std::make_unique<Handle>(key));
}

Identity PrivateKey::fromPKCS12(std::span<const std::uint8_t> bytes, std::string_view password) {
    if (bytes.size() > static_cast<std::size_t>(LONG_MAX)) fail(pkcs12Message);
    const unsigned char* cursor = bytes.data();
    std::unique_ptr<PKCS12, PKCS12Free> p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size())));
    if (!p12) fail(pkcs12Message);
    std::string secret(password);
    EVP_PKEY* rawKey = nullptr;
    X509* rawCertificate = nullptr;
    const int parsed = PKCS12_parse(p12.get(), secret.c_str(), &rawKey, &rawCertificate, nullptr);
    std::fill(secret.begin(), secret.end(), '\0');
    std::unique_ptr<EVP_PKEY, KeyFree> key(rawKey);
    std::unique_ptr<X509, X509Free> certificate(rawCertificate);
    if (parsed != 1) fail(pkcs12Message);
    if (!key || !certificate) fail(pkcs12ContentMessage);

    const int length = i2d_X509(certificate.get(), nullptr);
    if (length <= 0) fail(pkcs12ContentMessage);
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (i2d_X509(certificate.get(), &out) != length) fail(pkcs12ContentMessage);
    return Identity{PrivateKey(std::make_unique<Handle>(key.release())), std::move(der)};
}

} // namespace pizzacore::FiscalSignature
