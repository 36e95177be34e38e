// The certificate reader against certificates made by the openssl command line, cross-checked
// with OpenSSL's own reading of the issuer and serial, and against hand-made DER that is broken
// in the ways a reader must survive.

#include "FiscalTestSupport.hpp"

#include <PizzaCore/PizzaCore.hpp>
#include <support/Refusal.hpp>

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace pizzacore;
using pizzacore::testing::failure;

namespace {

// What OpenSSL reads as issuer and serial, written with the reader's conventions: the names of
// the attribute table, values escaped, last name component first, members of one component
// joined with "+".
CertificateDER::Details openSSLDetails(const Bytes& der) {
    const unsigned char* cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    EXPECT_NE(certificate, nullptr);
    if (!certificate) return {};
    BIGNUM* number = ASN1_INTEGER_to_BN(X509_get_serialNumber(certificate), nullptr);
    char* decimal = BN_bn2dec(number);
    std::string serial = decimal;
    OPENSSL_free(decimal);
    BN_free(number);

    static const std::map<std::string, std::string> names = {{"2.5.4.3", "CN"},
                                                             {"2.5.4.6", "C"},
                                                             {"2.5.4.7", "L"},
                                                             {"2.5.4.8", "ST"},
                                                             {"2.5.4.10", "O"},
                                                             {"2.5.4.11", "OU"},
                                                             {"2.5.4.5", "serialNumber"},
                                                             {"1.2.840.113549.1.9.1", "emailAddress"}};
    const X509_NAME* issuer = X509_get_issuer_name(certificate);
    std::vector<std::string> components;
    int currentSet = -1;
    for (int i = 0; i < X509_NAME_entry_count(issuer); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(issuer, i);
        char oid[128];
        OBJ_obj2txt(oid, sizeof oid, X509_NAME_ENTRY_get_object(entry), 1);
        const auto found = names.find(oid);
        std::string text = (found == names.end() ? std::string(oid) : found->second) + "=";
        const ASN1_STRING* value = X509_NAME_ENTRY_get_data(entry);
        const std::string raw(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                              static_cast<std::size_t>(ASN1_STRING_length(value)));
        for (const char c : raw) {
            if (c == '\\' || c == ',' || c == '+' || c == '"') text += '\\';
            text += c;
        }
        if (X509_NAME_ENTRY_set(entry) == currentSet)
            components.back() += "+" + text;
        else
            components.push_back(text);
        currentSet = X509_NAME_ENTRY_set(entry);
    }
    std::string issuerText;
    for (auto it = components.rbegin(); it != components.rend(); ++it)
        issuerText += (issuerText.empty() ? "" : ",") + *it;
    X509_free(certificate);
    return {issuerText, serial};
}

Bytes der(std::initializer_list<int> bytes) {
    Bytes out;
    for (const int b : bytes)
        out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

// Wraps content in a tag with a definite length.
Bytes item(std::uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A skeleton certificate: sequence { tbs { [version], serial, algorithm, issuer }, ... }.
Bytes skeleton(const Bytes& serial, const Bytes& issuer, bool version = true) {
    const Bytes tbs = item(0x30, joined({version ? item(0xA0, item(0x02, {2})) : Bytes{}, item(0x02, serial),
                                         item(0x30, {}), issuer}));
    return item(0x30, joined({tbs, item(0x30, {}), item(0x03, {0})}));
}

Bytes attribute(const Bytes& oid, const std::string& value) {
    return item(0x31, item(0x30, joined({item(0x06, oid), item(0x0C, Bytes(value.begin(), value.end()))})));
}

} // namespace

TEST(CertificateDER, AgreesWithOpenSSLOnRealCertificates) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    struct Case {
        std::string name, subject, serial, options, issuer, decimal;
    };
    const std::vector<Case> cases = {
        {"ordered", "/C=ES/O=Example Org/CN=Example CA", "0x00FF", "", "CN=Example CA,O=Example Org,C=ES",
         "255"},
        {"comma", "/C=ES/O=Pizzas Luigi, S.L./CN=Firma", "18446744073709551616", "",
         "CN=Firma,O=Pizzas Luigi\\, S.L.,C=ES", "18446744073709551616"},
        {"mail", "/CN=Firma/emailAddress=firma@example.es/organizationIdentifier=VATES-B12345678", "1", "",
         "2.5.4.97=VATES-B12345678,emailAddress=firma@example.es,CN=Firma", "1"},
        {"multi", "/C=ES/O=Org+OU=Unidad/CN=Pizzería \"Ñ\" \\\\ y\\+más", "4660", "-multivalue-rdn",
         "CN=Pizzería \\\"Ñ\\\" \\\\ y\\+más,O=Org+OU=Unidad,C=ES", "4660"},
    };
    for (const Case& c : cases) {
        const Bytes certificate = credentials.certificate(c.name, c.subject, c.serial, c.options);
        const CertificateDER::Details details = CertificateDER::details(certificate);
        EXPECT_EQ(details, openSSLDetails(certificate)) << c.name;
        EXPECT_EQ(details.issuer, c.issuer) << c.name;
        EXPECT_EQ(details.serial, c.decimal) << c.name;
    }

    // A version 1 certificate has no version field: the serial is the first field.
    const auto directory = credentials.directory();
    std::string log;
    ASSERT_EQ(pizzacore::testing::run(
                  "cd '" + directory.string() +
                      "' && openssl req -new -key key.pem -subj /CN=Antigua -out v1.csr && "
                      "openssl x509 -req -in v1.csr -signkey key.pem -set_serial 77 -days 2 "
                      "-outform DER -out v1.der && openssl x509 -inform DER -in v1.der -noout -text",
                  &log),
              0)
        << log;
    EXPECT_NE(log.find("Version: 1 (0x0)"), std::string::npos);
    const std::string v1 = pizzacore::testing::readFile(directory / "v1.der");
    const Bytes v1Bytes(v1.begin(), v1.end());
    EXPECT_EQ(CertificateDER::details(v1Bytes), (CertificateDER::Details{"CN=Antigua", "77"}));
}

TEST(CertificateDER, ReadsSerialsAndIdentifiersAsX690Says) {
    const Bytes issuer = item(0x30, attribute({0x55, 0x04, 0x03}, "CA"));
    EXPECT_EQ(CertificateDER::details(skeleton({0x01, 0, 0, 0, 0, 0, 0, 0, 0}, issuer)).serial,
              "18446744073709551616");
    EXPECT_EQ(CertificateDER::details(skeleton({0x00, 0xFF}, issuer)).serial, "255");
    EXPECT_EQ(CertificateDER::details(skeleton({}, issuer)).serial, "0");
    EXPECT_EQ(CertificateDER::details(skeleton({0xFF}, issuer)).serial, "255"); // negative read unsigned
    EXPECT_EQ(CertificateDER::details(skeleton({0x07}, issuer, false)),
              (CertificateDER::Details{"CN=CA", "7"}));

    // 2.999.3: the first sub-identifier 1079 spans two bytes (0x88 0x37).
    const Bytes wide = item(0x30, attribute({0x88, 0x37, 0x03}, "x"));
    EXPECT_EQ(CertificateDER::details(skeleton({1}, wide)).issuer, "2.999.3=x");
    // An arc left unfinished at the end is dropped.
    EXPECT_EQ(CertificateDER::details(skeleton({1}, item(0x30, attribute({0x55, 0x04, 0x83}, "x")))).issuer,
              "2.5.4=x");
    // Arcs beyond 64 bits are refused instead of wrapping.
    Bytes huge = {0x55};
    for (int i = 0; i < 10; ++i)
        huge.push_back(0xFF);
    huge.push_back(0x7F);
    EXPECT_EQ(failure([&] { CertificateDER::details(skeleton({1}, item(0x30, attribute(huge, "x")))); }),
              "Identificador de atributo del certificado no admitido.");
    // An attribute without a value or with an empty identifier is skipped.
    const Bytes lone = item(0x31, item(0x30, item(0x06, {0x55, 0x04, 0x0A})));
    EXPECT_EQ(CertificateDER::details(
                  skeleton({1}, item(0x30, joined({lone, attribute({0x55, 0x04, 0x06}, "ES")}))))
                  .issuer,
              "C=ES,");
    EXPECT_EQ(
        failure([&] {
            CertificateDER::details(skeleton({1}, item(0x30, attribute({0x55, 0x04, 0x03}, "\xC3\x28"))));
        }),
        "Nombre del emisor de certificado no admitido.");
}

TEST(CertificateDER, RefusesBrokenStructureWithItsMessage) {
    const Bytes issuer = item(0x30, attribute({0x55, 0x04, 0x03}, "CA"));
    const Bytes good = skeleton({1}, issuer);
    struct Case {
        Bytes bytes;
        std::string message;
    };
    const Bytes cut(good.begin(), good.end() - 1);
    Bytes leftover = good;
    leftover.push_back(0x00);
    const std::vector<Case> cases = {
        {{}, "Certificado vacío."},
        {der({0x30}), "Certificado DER incompleto."},
        {leftover, "Certificado DER incompleto."},
        {der({0x30, 0x80, 0x00, 0x00}), "Longitud DER inválida."},
        {der({0x30, 0x85, 0, 0, 0, 0, 1}), "Longitud DER inválida."},
        {der({0x30, 0x82, 0x01}), "Longitud DER inválida."},
        {cut, "Certificado truncado."},
        {der({0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}), "Certificado truncado."},
        {der({0x30, 0x00}), "Certificado inválido."},
        {item(0x30, item(0x30, joined({item(0xA0, {}), item(0x02, {1}), item(0x30, {})}))),
         "Faltan los datos del certificado."},
        // An inner item that overruns its parent.
        {item(0x30, der({0x30, 0x05, 0x02, 0x01})), "Certificado truncado."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure([&] { CertificateDER::details(c.bytes); }), c.message) << c.message;

    EXPECT_EQ(CertificateDER::nodes({}), std::vector<CertificateDER::Node>{});
    EXPECT_EQ(CertificateDER::nodes(der({0x02, 0x01, 0x05, 0x04, 0x81, 0x01, 0xAA})),
              (std::vector<CertificateDER::Node>{{0x02, {0x05}}, {0x04, {0xAA}}}));
}

TEST(CertificateDER, DeepNestingIsReadOneLevelAtATime) {
    Bytes nested = item(0x02, {1});
    for (int i = 0; i < 2000; ++i)
        nested = item(0x30, nested);
    EXPECT_EQ(failure([&] { CertificateDER::details(nested); }), "Faltan los datos del certificado.");
}
