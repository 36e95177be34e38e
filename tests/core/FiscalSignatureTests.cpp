// Signing and verifying fiscal records: xmlsec1 checks what sign() produces, every refusal of
// verify() comes from a real tampering of a signed record, document type declarations are
// refused, and keys come from PEM and PKCS#12 files made by the openssl command line.

#include "FiscalTestSupport.hpp"

#include <PizzaCore/PizzaCore.hpp>
#include <support/Refusal.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace pizzacore;
using pizzacore::testing::bytesOf;
using pizzacore::testing::failure;
using pizzacore::testing::textOf;

namespace {

const std::string signingTime = pizzacore::testing::signingTime();

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

// The same record signed by xmlsec1 from a template made of a record we signed: every digest, the
// signature value and the certificate (put in by xmlsec1 from the PEM file) are its own, and it
// writes long Base64 values in lines of 64 characters.
std::string xmlsecSigned(const std::string& xml, const std::filesystem::path& keyPEM,
                         const std::filesystem::path& certificatePEM) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const std::string certificate = between(xml, "<ds:X509Certificate>", "</ds:X509Certificate>");
    const auto input = credentials.directory() / "xmlsec-template.xml";
    const auto output = credentials.directory() / "xmlsec-signed.xml";
    pizzacore::testing::writeFile(
        input, replaced(xml, "<ds:X509Certificate>" + certificate + "</ds:X509Certificate>",
                        "<ds:X509Certificate/>"));
    std::string log;
    EXPECT_EQ(pizzacore::testing::run("xmlsec1 --sign --privkey-pem '" + keyPEM.string() + "," +
                                          certificatePEM.string() +
                                          "' --id-attr:Id SignedProperties --output '" + output.string() +
                                          "' '" + input.string() + "'",
                                      &log),
              0)
        << log;
    return pizzacore::testing::readFile(output);
}

// Base64 written in lines of `width` characters, with a line break before and after, as
// XML-DSig signers do.
std::string wrapped(const std::string& base64, std::size_t width) {
    std::string text = "\n";
    for (std::size_t at = 0; at < base64.size(); at += width)
        text += base64.substr(at, width) + "\r\n";
    return text + "\t";
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
        {"hora de firma", replaced(good, signingTime, pizzacore::testing::signingTime(1)),
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
        {"certificado con un carácter ajeno",
         replaced(good, certificate, certificate.substr(0, 64) + "*" + certificate.substr(64)),
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

TEST(FiscalSignature, ProcessingInstructionsOutsideTheRootAreSigned) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const std::string modified = "El contenido firmado ha sido modificado.";
    const std::string instruction = "<?xml-stylesheet type=\"text/xsl\" href=\"https://example.com/f.xsl\"?>";
    std::string log;

    // Added to a signed record, before or after the root, they change what the signature covers.
    const std::string good = signedAlta();
    EXPECT_EQ(verifyFailure(instruction + "\n" + good), modified);
    EXPECT_EQ(verifyFailure(good + "\n" + instruction), modified);
    EXPECT_FALSE(xmlsecVerifies(instruction + "\n" + good, log));

    // A record that comes with one is signed with it, as xmlsec1 reads the whole document.
    const std::string withInstruction = textOf(
        FiscalSignature::sign(bytesOf(instruction + "\n" + textOf(sampleAlta().xml) + "\n<?velmora fin?>"),
                              credentials.key(), credentials.standard(), signingTime));
    EXPECT_EQ(verifyFailure(withInstruction), std::nullopt);
    EXPECT_TRUE(xmlsecVerifies(withInstruction, log)) << log;
    EXPECT_EQ(verifyFailure(replaced(withInstruction, instruction, "")), modified);
    EXPECT_EQ(verifyFailure(replaced(withInstruction, "f.xsl", "g.xsl")), modified);
    EXPECT_EQ(verifyFailure(replaced(withInstruction, "<?velmora fin?>", "")), modified);
    // Comments and white space outside the root are no part of the canonical form.
    const std::string commented = replaced(withInstruction, instruction, "<!-- nota -->\n\n" + instruction);
    EXPECT_EQ(verifyFailure(commented), std::nullopt);
    EXPECT_TRUE(xmlsecVerifies(commented, log)) << log;
}

TEST(FiscalSignature, TheNamedSigningCertificateIsTheOneThatSigned) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const auto impostor = credentials.signer("impostor", 2048, "/C=ES/O=Otra/CN=Impostor CA", "77");
    const auto impostorKey =
        FiscalSignature::PrivateKey::fromPEM(pizzacore::testing::readFile(impostor.keyPEM));
    const std::string byImpostor =
        textOf(FiscalSignature::sign(sampleAlta().xml, impostorKey, impostor.certificate, signingTime));
    const auto reworked = [&](const std::string& xml) {
        return pizzacore::testing::resigned(pizzacore::testing::redigested(xml), impostor.keyPEM);
    };
    // Re-signing without a change keeps the record valid: what follows is refused for its change.
    ASSERT_EQ(verifyFailure(reworked(byImpostor)), std::nullopt);

    const std::string good = signedAlta();
    const auto part = [](const std::string& xml, const std::string& name) {
        return between(between(xml, "<xades:Cert>", "</xades:Cert>"), "<" + name + ">", "</" + name + ">");
    };
    const std::string certificateMessage = "La firma nombra un certificado distinto del que la hizo.";
    const std::vector<std::pair<const char*, std::string>> tamperings = {
        {"todo", replaced(byImpostor, between(byImpostor, "<xades:Cert>", "</xades:Cert>"),
                          between(good, "<xades:Cert>", "</xades:Cert>"))},
        {"resumen",
         replaced(byImpostor, part(byImpostor, "xades:CertDigest"), part(good, "xades:CertDigest"))},
        {"emisor",
         replaced(byImpostor, part(byImpostor, "ds:X509IssuerName"), part(good, "ds:X509IssuerName"))},
        {"número de serie", replaced(byImpostor, "<ds:X509SerialNumber>77<", "<ds:X509SerialNumber>4660<")},
    };
    for (const auto& [what, xml] : tamperings)
        EXPECT_EQ(verifyFailure(reworked(xml)), certificateMessage) << what;

    // The signed properties must be covered by a reference, or what they name is not signed.
    const std::string id =
        between(byImpostor, "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" Id=\"", "\"");
    EXPECT_EQ(verifyFailure(reworked(
                  replaced(byImpostor, "URI=\"#" + id + "-properties\"", "URI=\"#" + id + "-key\""))),
              "Referencias de firma incompletas.");
    EXPECT_EQ(verifyFailure(reworked(replaced(byImpostor, "<ds:Reference URI=\"#" + id + "-key\"",
                                              "<ds:Reference URI=\"#" + id + "-reference\""))),
              std::nullopt);
}

TEST(FiscalSignature, RefusesShortKeysAndCertificatesOutsideTheirValidity) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const Bytes record = sampleAlta().xml;
    const auto weak = credentials.signer("weak", 1024, "/CN=Clave corta", "5");
    const auto weakKey = FiscalSignature::PrivateKey::fromPEM(pizzacore::testing::readFile(weak.keyPEM));
    EXPECT_EQ(failure([&] { FiscalSignature::sign(record, weakKey, weak.certificate, signingTime); }),
              "Se requiere una clave RSA de al menos 2048 bits.");

    // Records signed elsewhere with short keys are refused too.
    const std::string shortMessage =
        "La clave del certificado de la firma es demasiado corta: se requieren al menos 2048 bits.";
    const std::string good = signedAlta();
    EXPECT_EQ(verifyFailure(xmlsecSigned(good, weak.keyPEM, weak.certificatePEM)), shortMessage);
    const auto tiny = credentials.signer("tiny", 512, "/CN=Clave minima", "6");
    const std::string byTiny = pizzacore::testing::resigned(
        pizzacore::testing::redigested(
            replaced(good, between(good, "<ds:X509Certificate>", "<"), Base64::encode(tiny.certificate))),
        tiny.keyPEM);
    EXPECT_EQ(verifyFailure(byTiny), shortMessage);

    // The certificate must be valid at the signing time, read with its zone. The test
    // certificates are valid from their making for 30 days; signingTime() is an hour ahead.
    const auto signedAt = [&](const std::string& time) {
        return failure(
            [&] { FiscalSignature::sign(record, credentials.key(), credentials.standard(), time); });
    };
    const std::string expired = "El certificado de firma había caducado en la hora de firma.";
    const std::string early = "El certificado de firma aún no era válido en la hora de firma.";
    EXPECT_EQ(signedAt(pizzacore::testing::signingTime(40)), expired);
    EXPECT_EQ(signedAt("2020-01-01T00:00:00+01:00"), early);
    const std::string soon = pizzacore::testing::signingTime();
    const std::string wallClock = soon.substr(0, soon.size() - 1);
    EXPECT_EQ(signedAt(wallClock + "+14:00"), early);
    EXPECT_EQ(signedAt(wallClock + ".250-10:00"), std::nullopt);
    EXPECT_EQ(signedAt(pizzacore::testing::signingTime(29)), std::nullopt);
    const std::string format =
        "La hora de firma debe ser una fecha y hora con su huso horario, como 2025-02-23T13:45:11+01:00.";
    for (const std::string& time :
         std::vector<std::string>{"ayer", "", wallClock, wallClock + "+1:00", "2026-02-29T10:00:00Z",
                                  "2026-13-01T10:00:00Z", "2026-01-01T24:00:00Z", "2026-01-01T10:00:00+15:00",
                                  "2026-01-01 10:00:00Z", "+2026-01-01T10:00:00Z"})
        EXPECT_EQ(signedAt(time), format) << time;
}

TEST(FiscalSignature, WrappedBase64IsRead) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    std::string log;
    // xmlsec1 wraps the certificate and the signature value.
    const std::string fromXmlsec =
        xmlsecSigned(signedAlta(), credentials.keyPEM(), credentials.standardPEM());
    EXPECT_NE(between(fromXmlsec, "<ds:SignatureValue>", "<").find('\n'), std::string::npos) << fromXmlsec;
    EXPECT_NE(between(fromXmlsec, "<ds:X509Certificate>", "<").find('\n'), std::string::npos) << fromXmlsec;
    EXPECT_TRUE(xmlsecVerifies(fromXmlsec, log)) << log;
    EXPECT_EQ(verifyFailure(fromXmlsec), std::nullopt);

    // Any XML white space in any Base64 value: 76 columns, line breaks around the digests.
    const std::string good = signedAlta();
    const std::string certificate = between(good, "<ds:X509Certificate>", "<");
    std::string rewrapped = replaced(good, certificate, wrapped(certificate, 76));
    for (std::size_t at = rewrapped.find("<ds:DigestValue>"); at != std::string::npos;
         at = rewrapped.find("<ds:DigestValue>", at + 1))
        rewrapped.insert(at + 16, "\n ");
    rewrapped = pizzacore::testing::resigned(pizzacore::testing::redigested(rewrapped));
    const std::string signature = between(rewrapped, "<ds:SignatureValue>", "<");
    rewrapped = replaced(rewrapped, signature, wrapped(signature, 76));
    EXPECT_EQ(verifyFailure(rewrapped), std::nullopt);
    EXPECT_TRUE(xmlsecVerifies(rewrapped, log)) << log;
    // Still nothing but white space: a stray character is refused.
    EXPECT_EQ(verifyFailure(
                  replaced(rewrapped, signature.substr(0, 76) + "\r\n", signature.substr(0, 76) + "\r\n.")),
              "Firma o certificado ilegible.");
}

TEST(FiscalSignature, BoundsTheRecordBeforeReadingIt) {
    auto& credentials = pizzacore::testing::Credentials::shared();
    const std::string good = signedAlta();
    const std::string record = textOf(sampleAlta().xml);
    const auto repeated = [](int count, const auto& make) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += make(std::to_string(i));
        return text;
    };
    const std::string attributes = repeated(80000, [](const std::string& i) { return " a" + i + "=\"1\""; });
    const std::string namespaces =
        repeated(20000, [](const std::string& i) { return " xmlns:n" + i + "=\"urn:n:" + i + "\""; });
    // Few declarations, but in scope of many elements: canonicalisation weighs each against the
    // others for every element.
    const std::string scattered =
        repeated(40, [](const std::string& i) { return "<x xmlns:n" + i + "=\"urn:n:" + i + "\">"; }) +
        repeated(1000, [](const std::string&) { return std::string("<y/>"); }) +
        repeated(40, [](const std::string&) { return std::string("</x>"); });
    const std::string deep = repeated(100, [](const std::string&) { return std::string("<x>"); }) +
                             repeated(100, [](const std::string&) { return std::string("</x>"); });
    const std::string wide = repeated(30000, [](const std::string&) { return std::string("<x/>"); });
    const std::string big = "<!--" + std::string(2 << 20, 'x') + "-->";
    struct Case {
        const char* what;
        std::string from, to, message;
    };
    const std::vector<Case> cases = {
        {"atributos", "<sf:RegistroAlta ", "<sf:RegistroAlta" + attributes + " ",
         "El registro XML tiene demasiados atributos en un elemento."},
        // Namespace declarations are attributes to the parser: on one element the first bound
        // met is the same.
        {"espacios de nombres en un elemento", "<sf:RegistroAlta ", "<sf:RegistroAlta" + namespaces + " ",
         "El registro XML tiene demasiados atributos en un elemento."},
        {"espacios de nombres repartidos", "</sf:RegistroAlta>", scattered + "</sf:RegistroAlta>",
         "El registro XML declara demasiados espacios de nombres."},
        {"profundidad", "</sf:RegistroAlta>", deep + "</sf:RegistroAlta>",
         "El registro XML tiene demasiados niveles de anidamiento."},
        {"elementos", "</sf:RegistroAlta>", wide + "</sf:RegistroAlta>",
         "El registro XML tiene demasiados elementos."},
        {"tamaño", "</sf:RegistroAlta>", big + "</sf:RegistroAlta>", "El registro XML es demasiado grande."},
        {"codificación declarada", "<sf:RegistroAlta ",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><sf:RegistroAlta ",
         "El registro XML debe estar codificado en UTF-8."},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const Case& c : cases) {
        EXPECT_EQ(verifyFailure(replaced(good, c.from, c.to)), c.message) << c.what;
        EXPECT_EQ(failure([&] {
                      FiscalSignature::sign(bytesOf(replaced(record, c.from, c.to)), credentials.key(),
                                            credentials.standard(), signingTime);
                  }),
                  c.message)
            << c.what;
    }
    // libxml2 reads on after an error from where it gave up: markup hidden where the parser gives
    // up early (an attribute value, a processing instruction without a name, a comment with a
    // character XML does not allow) would be parsed without having been counted.
    const std::string hidden = "<y" + attributes.substr(0, 600000) + "/>";
    for (const auto& [from, to, what] : std::vector<std::array<std::string, 3>>{
             {"<x a=\"", "\"/>", "«<» en el valor de un atributo"},
             {"<?1 ", "?>", "instrucción de proceso sin nombre"},
             {"<!--\x01", "-->", "carácter no permitido"},
             {"<!ELEMENT ", ">", "declaración no admitida"},
         }) {
        const auto refusal =
            verifyFailure(replaced(good, "</sf:RegistroAlta>", from + hidden + to + "</sf:RegistroAlta>"));
        ASSERT_TRUE(refusal) << what;
        EXPECT_EQ(refusal->rfind("El registro XML no se puede leer: " + what + " (línea ", 0), 0u)
            << *refusal;
    }
    // UTF-16 (here without a byte order mark, which libxml2 would still recognise).
    std::string utf16;
    for (const char c : good)
        utf16 += std::string{c, '\0'};
    EXPECT_EQ(verifyFailure(utf16), "El registro XML debe estar codificado en UTF-8.");
    // Refused on sight: a linear scan, never the parser's quadratic work.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

    // What real records and signatures use stays well inside: a declared UTF-8, a byte order mark,
    // nested elements and namespace declarations repeated on every signature element, as some
    // signers write them.
    EXPECT_EQ(verifyFailure("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + good), std::nullopt);
    std::string redeclared = good;
    for (std::size_t at = redeclared.find("<ds:SignedInfo>"); at != std::string::npos;
         at = redeclared.find("<ds:", at + 1)) {
        const std::size_t nameEnd = redeclared.find_first_of(" />", at);
        redeclared.insert(nameEnd, " xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"");
    }
    EXPECT_EQ(verifyFailure(redeclared), std::nullopt);
}
