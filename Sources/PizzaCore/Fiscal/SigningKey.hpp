#pragma once

// The OpenSSL key behind FiscalSignature::PrivateKey. Private to the fiscal module.

#include <PizzaCore/Fiscal/FiscalSignature.hpp>

#include <openssl/evp.h>

namespace pizzacore::FiscalSignature {

struct PrivateKey::Handle {
    explicit Handle(EVP_PKEY* owned)
        : key(owned) {}
    ~Handle() { EVP_PKEY_free(key); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    EVP_PKEY* key;
};

} // namespace pizzacore::FiscalSignature
