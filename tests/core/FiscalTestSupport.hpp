#pragma once

// What the fiscal record and signature tests share: the tax agency's schemas loaded with
// libxml2's validator (network off, the XML-DSig schema resolved through the local catalog),
// the openssl command line for keys and certificates, and realistic settings and proposals.

#include <PizzaCore/PizzaCore.hpp>
#include <support/TestFiles.hpp>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore::testing {

enum class Schema { registration, event };

// The validator's complaints about the record; empty when it passes the schema.
std::vector<std::string> schemaErrors(const Bytes& xml, Schema schema);

// Runs a command line through the shell; returns its exit status and puts its output (standard
// output and error together) into `output`.
int run(const std::string& command, std::string* output = nullptr);

Bytes bytesOf(std::string_view text);
std::string textOf(const Bytes& bytes);

// One RSA 2048 key and certificates made with the openssl command line, in a temporary folder
// kept for the whole test run.
class Credentials {
public:
    static Credentials& shared();

    const std::filesystem::path& directory() const { return directory_.path(); }
    std::filesystem::path keyPEM() const { return directory() / "key.pem"; }
    const FiscalSignature::PrivateKey& key() const { return key_; }

    // A self-signed certificate for the shared key with the given subject (openssl -subj form)
    // and serial; its DER bytes. `options` are added to the openssl req command line.
    Bytes certificate(const std::string& name, const std::string& subject, const std::string& serial,
                      const std::string& options = "");
    // The default certificate: C=ES, O=Example Org, CN=Example CA, serial 4660.
    const Bytes& standard() const { return standard_; }
    std::filesystem::path standardPEM() const { return directory() / "standard.pem"; }

    // Another signer: a new RSA key of `bits` bits (name.key.pem) and a self-signed certificate
    // for it valid for 30 days (name.pem, DER bytes in `certificate`).
    struct Signer {
        std::filesystem::path keyPEM;
        std::filesystem::path certificatePEM;
        Bytes certificate;
    };
    Signer signer(const std::string& name, int bits, const std::string& subject, const std::string& serial);

private:
    Credentials();
    TemporaryDirectory directory_{"velmora-fiscal"};
    FiscalSignature::PrivateKey key_;
    Bytes standard_;
};

// Realistic complete settings (Spanish profile, producer data) and proposals.
FiscalSettings sampleSettings();
InvoiceProposal sampleProposal(InvoiceKind kind = InvoiceKind::full);

// Re-signs a tampered signed record the way another signer holding the key would: the canonical
// SignedInfo (libxml2's own node-set canonicalisation) signed with openssl, written into
// SignatureValue. Used to make tamperings that reach the reference checks. Signs with the shared
// key unless another key file is given.
std::string resigned(const std::string& xml, const std::filesystem::path& keyPEM = {});

// The record with the digest of every same-document reference ("#Id") recomputed from its
// target's canonical form (again libxml2's node-set canonicalisation), so that a tampering inside
// the signed properties or the key information survives the reference checks once re-signed.
std::string redigested(const std::string& xml);

// A signing time inside the validity of the certificates the tests make (one hour from now, in
// UTC, as "yyyy-MM-ddTHH:mm:ssZ"); `days` moves it.
std::string signingTime(int days = 0);

} // namespace pizzacore::testing
