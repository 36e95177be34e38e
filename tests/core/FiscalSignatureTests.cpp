// Signing and verifying fiscal records: xmlsec1 checks what sign() produces, every refusal of
// verify() comes from a real tampering of a signed record, document type declarations are
// refused, and keys come from PEM and PKCS#12 files made by the openssl command line.

#include "FiscalTestSupport.hpp"

#include <PizzaCore/PizzaCore.hpp>
#include <support/Refusal.hpp>

#include <gtest/gtest.h>

#include <string>

using namespace pizzacore;
using pizzacore::testing::bytesOf;
using pizzacore::testing::failure;
using pizzacore::testing::textOf;

namespace {

const std::string signingTime = "2025-02-23T13:45:11+01:00";

FiscalRecords::Record sampleAlta() {
    return FiscalRecords::alta(pizzacore::testing::sampleProposal(), pizzacore::testing::sampleSettings(),
                               "F-2025/1", "23-02-2025", "2025-02-23T13:45:10+01:00", {}, {});
}

std::string signedAlta() {
    auto& credentials = pizzacore::testing::Credentials::shared();
    return textOf(
        FiscalSignature::sign(sampleAlta().xml, credentials.key(), credentials.standard(), signingTime));
}

std::optional<std::string> verifyFailure(const std::string& xml) {
    return failure([&] { FiscalSignature::verify(bytesOf(xml)); });
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string between(const std::string& text, const std::string& open, const std::string& close) {
    const std::size_t start = text.find(open) + open.size();
    return text.substr(start, text.find(close, start) - start);
}

// xmlsec1's verdict on a signed record, trusting the test certificate; true when it verifies.
bool xmlsecVerifies(const std::string& xml, std::string& log) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const auto file = credentials.directory() / "xmlsec-input.xml";
    pizzacore::testing::writeFile(file, xml);
    return pizzacore::testing::run("xmlsec1 --verify --trusted-pem '" + credentials.standardPEM().string() +
                                       "' --id-attr:Id SignedProperties '" + file.string() + "'",
                                   &log) == 0;
}

} // namespace

TEST(FiscalSignature, SignedRecordsPassXmlsecAndTheSchemas) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const FiscalRecords::Record alta = sampleAlta();
    const std::string signedRecord = signedAlta();
    // Everything before the signature stays byte for byte as built; the signature is the last
    // child of the root.
    const std::string original = textOf(alta.xml);
    const std::string closing = "</sf:RegistroAlta>";
    EXPECT_EQ(signedRecord.substr(0, original.size() - closing.size()),
              original.substr(0, original.size() - closing.size()));
    EXPECT_EQ(signedRecord.substr(signedRecord.size() - closing.size() - 15), "</ds:Signature>" + closing);
    EXPECT_NE(signedRecord.find("<xades:SigningTime>" + signingTime + "</xades:SigningTime>"),
              std::string::npos);
    EXPECT_NE(signedRecord.find("<ds:X509IssuerName>CN=Example CA,O=Example Org,C=ES</ds:X509IssuerName>"
                                "<ds:X509SerialNumber>4660</ds:X509SerialNumber>"),
              std::string::npos);
    EXPECT_NE(signedRecord.find("<xades:Identifier>urn:oid:2.16.724.1.3.1.1.2.1.9</xades:Identifier>"),
              std::string::npos);
    EXPECT_EQ(verifyFailure(signedRecord), std::nullopt);
    EXPECT_EQ(
        pizzacore::testing::schemaErrors(bytesOf(signedRecord), pizzacore::testing::Schema::registration),
        std::vector<std::string>{});

    std::string log;
    EXPECT_TRUE(xmlsecVerifies(signedRecord, log)) << log;
    EXPECT_NE(log.find("SignedInfo References (ok/all): 3/3"), std::string::npos) << log;
    // xmlsec1 also notices a changed value.
    EXPECT_FALSE(xmlsecVerifies(replaced(signedRecord, "F-2025/1", "F-2025/9"), log));

    // An event carries its signature as the last child of Evento.
    const auto event = FiscalRecords::event(pizzacore::testing::sampleSettings(), "01",
                                            "2025-02-23T13:45:10+01:00", "Inicio", {}, "");
    const std::string signedEvent =
        textOf(FiscalSignature::sign(event.xml, credentials.key(), credentials.standard(), signingTime));
    EXPECT_NE(signedEvent.find("</ds:Signature></ev:Evento></ev:RegistroEvento>"), std::string::npos);
    EXPECT_EQ(pizzacore::testing::schemaErrors(bytesOf(signedEvent), pizzacore::testing::Schema::event),
              std::vector<std::string>{});
    EXPECT_TRUE(xmlsecVerifies(signedEvent, log)) << log;
}

TEST(FiscalSignature, EveryRefusalComesFromARealTampering) {
    const std::string good = signedAlta();
    const std::string id =
        between(good, "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"", "\"");
    const std::string certificate = between(good, "<ds:X509Certificate>", "<");
    const std::string signatureElement =
        "<ds:Signature" + between(good, "<ds:Signature", "</ds:Signature>") + "</ds:Signature>";
    struct Case {
        const char* what;
        std::string xml;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"valor cambiado", replaced(good, "<sf:ImporteTotal>32.50", "<sf:ImporteTotal>3.25"),
         "El contenido firmado ha sido modificado."},
        {"hora de firma", replaced(good, signingTime, "2025-02-23T13:45:12+01:00"),
         "El contenido firmado ha sido modificado."},
        {"otro certificado",
         replaced(
             good, certificate,
             Base64::encode(pizzacore::testing::Credentials::shared().certificate("other", "/CN=Otro", "9"))),
         "El contenido firmado ha sido modificado."},
        {"valor de firma", replaced(good, "<ds:SignatureValue>", "<ds:SignatureValue>AAAA"),
         "La firma electrónica no coincide con el registro."},
        {"firma recortada", replaced(good, "<ds:DigestValue>", "<ds:DigestValue>A"),
         "La firma electrónica no coincide con el registro."},
        {"RSA-SHA1", replaced(good, "xmldsig-more#rsa-sha256", "xmldsig#rsa-sha1"),
         "Algoritmo de firma no admitido."},
        {"dos firmas", replaced(good, "</sf:RegistroAlta>", signatureElement + "</sf:RegistroAlta>"),
         "Debe existir exactamente una firma."},
        {"firma en otro espacio de nombres",
         replaced(good, "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"", "xmlns:ds=\"urn:otra\""),
         "Debe existir exactamente una firma."},
        {"sin SignatureMethod",
         replaced(good,
                  "<ds:SignatureMethod Algorithm=\"http://www.w3.org/2001/04/xmldsig-more#rsa-sha256\"/>",
                  ""),
         "Estructura de firma incompleta o ambigua."},
        {"certificado en varias líneas",
         replaced(good, certificate, certificate.substr(0, 64) + "\n" + certificate.substr(64)),
         "Firma o certificado ilegible."},
        {"URI absoluta",
         pizzacore::testing::resigned(
             replaced(good, "URI=\"#" + id + "-key\"", "URI=\"https://example.com/clave\"")),
         "Referencia externa no admitida."},
        {"Id duplicado",
         replaced(good, "<xades:QualifyingProperties ",
                  "<xades:QualifyingProperties Id=\"" + id + "-properties\" "),
         "Identificador de firma duplicado o ausente."},
        {"Id ausente",
         pizzacore::testing::resigned(replaced(good, "URI=\"#" + id + "-key\"", "URI=\"#no-existe\"")),
         "Identificador de firma duplicado o ausente."},
        {"sin URI", pizzacore::testing::resigned(replaced(good, " URI=\"#" + id + "-key\"", "")),
         "Referencia sin URI."},
        {"dos referencias",
         pizzacore::testing::resigned(
             replaced(good,
                      "<ds:Reference URI=\"#" + id + "-key\">" +
                          between(good, "<ds:Reference URI=\"#" + id + "-key\">", "</ds:Reference>") +
                          "</ds:Reference>",
                      "")),
         "Referencias de firma incompletas."},
        {"vacío", "  \n", "XML vacío."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(verifyFailure(c.xml), c.message) << c.what;

    auto& credentials = pizzacore::testing::Credentials::shared();
    EXPECT_EQ(failure([&] {
                  FiscalSignature::sign(bytesOf(good), credentials.key(), credentials.standard(),
                                        signingTime);
              }),
              "Registro XML no válido para firmar.");
    EXPECT_EQ(failure([&] {
                  FiscalSignature::sign(bytesOf("<a><b><Signature/></b></a>"), credentials.key(),
                                        credentials.standard(), signingTime);
              }),
              "Registro XML no válido para firmar.");
    // A well-formed error from the parser says what it found.
    const auto broken = verifyFailure("<sf:RegistroAlta>");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->rfind("El registro XML no se puede leer: ", 0), 0u) << *broken;
}

TEST(FiscalSignature, RefusesDocumentTypeDeclarationsBeforeReadingThem) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const std::string message = "El registro XML no puede llevar una declaración DOCTYPE: sus entidades "
                                "podrían cambiar lo que se firma o se lee.";
    std::string bomb = "<!DOCTYPE r [<!ENTITY a0 \"ha\">";
    for (int i = 1; i < 30; ++i)
        bomb += "<!ENTITY a" + std::to_string(i) + " \"&a" + std::to_string(i - 1) + ";&a" +
                std::to_string(i - 1) + ";\">";
    bomb += "]><r>&a29;</r>";
    const std::vector<std::string> documents = {
        bomb,
        "<!DOCTYPE r SYSTEM \"http://127.0.0.1:9/record.dtd\"><r/>",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><r>&x;</r>",
    };
    for (const std::string& document : documents) {
        EXPECT_EQ(verifyFailure(document), message);
        EXPECT_EQ(failure([&] {
                      FiscalSignature::sign(bytesOf(document), credentials.key(), credentials.standard(),
                                            signingTime);
                  }),
                  message);
    }
}

TEST(FiscalSignature, KeysFromPEMAndPKCS12) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const auto directory = credentials.directory();
    const std::string cd = "cd '" + directory.string() + "' && ";
    std::string log;
    ASSERT_EQ(
        pizzacore::testing::run(
            cd + "openssl pkey -in key.pem -aes256 -passout pass:secreto -out encrypted.pem && "
                 "openssl pkcs12 -export -inkey key.pem -in standard.pem -passout pass:clave -out id.p12 && "
                 "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.pem",
            &log),
        0)
        << log;
    const Bytes record = sampleAlta().xml;

    const auto encrypted = pizzacore::testing::readFile(directory / "encrypted.pem");
    const auto fromEncrypted = FiscalSignature::PrivateKey::fromPEM(encrypted, "secreto");
    EXPECT_EQ(failure([&] {
                  FiscalSignature::verify(
                      FiscalSignature::sign(record, fromEncrypted, credentials.standard(), signingTime));
              }),
              std::nullopt);
    const std::string pemMessage = "No se pudo leer la clave privada: revisa el archivo PEM y su contraseña.";
    EXPECT_EQ(failure([&] { FiscalSignature::PrivateKey::fromPEM(encrypted, "otra"); }), pemMessage);
    EXPECT_EQ(failure([&] { FiscalSignature::PrivateKey::fromPEM(encrypted); }), pemMessage);
    EXPECT_EQ(failure([&] { FiscalSignature::PrivateKey::fromPEM("no es una clave"); }), pemMessage);

    const std::string p12 = pizzacore::testing::readFile(directory / "id.p12");
    const Bytes p12Bytes(p12.begin(), p12.end());
    const FiscalSignature::Identity identity = FiscalSignature::PrivateKey::fromPKCS12(p12Bytes, "clave");
    EXPECT_EQ(identity.certificateDER, credentials.standard());
    EXPECT_EQ(failure([&] {
                  FiscalSignature::verify(
                      FiscalSignature::sign(record, identity.key, identity.certificateDER, signingTime));
              }),
              std::nullopt);
    EXPECT_EQ(failure([&] { FiscalSignature::PrivateKey::fromPKCS12(p12Bytes, "mala"); }),
              "No se pudo leer el archivo PKCS#12: revisa el archivo y su contraseña.");

    const std::string keyMessage = "Se requiere una clave RSA compatible con SHA-256.";
    const auto ec = FiscalSignature::PrivateKey::fromPEM(pizzacore::testing::readFile(directory / "ec.pem"));
    EXPECT_EQ(failure([&] { FiscalSignature::sign(record, ec, credentials.standard(), signingTime); }),
              keyMessage);
    FiscalSignature::PrivateKey moved =
        FiscalSignature::PrivateKey::fromPEM(pizzacore::testing::readFile(credentials.keyPEM()));
    FiscalSignature::PrivateKey taker = std::move(moved);
    EXPECT_EQ(failure([&] { FiscalSignature::sign(record, moved, credentials.standard(), signingTime); }),
              keyMessage);

    // A certificate that is not the key's: signing refuses its own output.
    const Bytes stranger = [&] {
        EXPECT_EQ(
            pizzacore::testing::run(
                cd + "openssl req -x509 -new -key ec.pem -subj /CN=Ajeno -days 2 -outform DER -out ec.der",
                &log),
            0)
            << log;
        const std::string text = pizzacore::testing::readFile(directory / "ec.der");
        return Bytes(text.begin(), text.end());
    }();
    EXPECT_EQ(failure([&] { FiscalSignature::sign(record, taker, stranger, signingTime); }),
              "La firma electrónica no coincide con el registro.");
}

TEST(FiscalSignature, EscapesAmpersandFirst) {
    EXPECT_EQ(FiscalSignature::escape("a&b<c>d\"e'f&amp;"), "a&amp;b&lt;c&gt;d&quot;e&apos;f&amp;amp;");
    EXPECT_EQ(FiscalSignature::ds, "http://www.w3.org/2000/09/xmldsig#");
}
