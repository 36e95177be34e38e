#include <PizzaCore/Fiscal/CertificateDER.hpp>
#include <PizzaCore/Fiscal/FiscalSignature.hpp>
#include <PizzaCore/Foundation/PCError.hpp>
#include <PizzaCore/Foundation/Uuid.hpp>

#include "RecordText.hpp"
#include "SigningKey.hpp"
#include "XmlDocument.hpp"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <array>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pizzacore::FiscalSignature {
namespace {

constexpr const char* keyMessage = "Se requiere una clave RSA compatible con SHA-256.";
constexpr const char* recordMessage = "Registro XML no válido para firmar.";
constexpr const char* signingMessage = "No se pudo firmar el registro: ";
constexpr const char* structureMessage = "Estructura de firma incompleta o ambigua.";
constexpr const char* emptyMessage = "XML vacío.";
constexpr const char* oneSignatureMessage = "Debe existir exactamente una firma.";
constexpr const char* algorithmMessage = "Algoritmo de firma no admitido.";
constexpr const char* unreadableMessage = "Firma o certificado ilegible.";
constexpr const char* mismatchMessage = "La firma electrónica no coincide con el registro.";
constexpr const char* referencesMessage = "Referencias de firma incompletas.";
constexpr const char* noURIMessage = "Referencia sin URI.";
constexpr const char* externalMessage = "Referencia externa no admitida.";
constexpr const char* identifierMessage = "Identificador de firma duplicado o ausente.";
constexpr const char* modifiedMessage = "El contenido firmado ha sido modificado.";
constexpr const char* timeMessage =
    "La hora de firma contiene caracteres que un registro XML no puede llevar.";
constexpr const char* issuerMessage = "Nombre del emisor de certificado no admitido.";
constexpr const char* shortKeyMessage = "Se requiere una clave RSA de al menos 2048 bits.";
constexpr const char* shortCertificateKeyMessage =
    "La clave del certificado de la firma es demasiado corta: se requieren al menos 2048 bits.";
constexpr const char* timeFormatMessage =
    "La hora de firma debe ser una fecha y hora con su huso horario, como 2025-02-23T13:45:11+01:00.";
constexpr const char* certificateMessage = "El certificado de firma no se puede leer.";
constexpr const char* expiredMessage = "El certificado de firma había caducado en la hora de firma.";
constexpr const char* earlyMessage = "El certificado de firma aún no era válido en la hora de firma.";
constexpr const char* namedCertificateMessage = "La firma nombra un certificado distinto del que la hizo.";

// Shorter RSA keys are within reach of factoring; signatures made with them prove nothing.
constexpr int minimumKeyBits = 2048;

constexpr std::string_view xades = "http://uri.etsi.org/01903/v1.3.2#";
constexpr std::string_view c14nMethod = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";
constexpr std::string_view rsaSHA256 = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
constexpr std::string_view sha256Method = "http://www.w3.org/2001/04/xmlenc#sha256";
constexpr std::string_view sha1Method = "http://www.w3.org/2000/09/xmldsig#sha1";
constexpr std::string_view signedPropertiesType = "http://uri.etsi.org/01903#SignedProperties";
constexpr std::string_view policyIdentifier = "urn:oid:2.16.724.1.3.1.1.2.1.9";
constexpr std::string_view policyDigest = "G7roucf600+f03r/o0bAOQ6WAs0=";

constexpr const char* anySignature = ".//*[local-name()='Signature']";
constexpr const char* signedInfoPath = "./*[local-name()='SignedInfo']";
constexpr const char* signatureMethodPath = "./*[local-name()='SignatureMethod']";
constexpr const char* referencesPath = "./*[local-name()='SignedInfo']/*[local-name()='Reference']";
constexpr const char* referencePath = "./*[local-name()='Reference']";
constexpr const char* digestValuePath = "./*[local-name()='DigestValue']";
constexpr const char* signatureValuePath = "./*[local-name()='SignatureValue']";
constexpr const char* keyInfoPath = "./*[local-name()='KeyInfo']";
constexpr const char* certificatePath = ".//*[local-name()='X509Certificate']";
constexpr const char* signedPropertiesPath = ".//*[local-name()='SignedProperties']";
constexpr const char* signingCertificatePath =
    ".//*[local-name()='SigningCertificate']/*[local-name()='Cert']";
constexpr const char* certDigestMethodPath = "./*[local-name()='CertDigest']/*[local-name()='DigestMethod']";
constexpr const char* certDigestValuePath = "./*[local-name()='CertDigest']/*[local-name()='DigestValue']";
constexpr const char* issuerNamePath = "./*[local-name()='IssuerSerial']/*[local-name()='X509IssuerName']";
constexpr const char* serialNumberPath =
    "./*[local-name()='IssuerSerial']/*[local-name()='X509SerialNumber']";

struct MDContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using MDContext = std::unique_ptr<EVP_MD_CTX, MDContextFree>;

[[noreturn]] void fail(const char* message) {
    ERR_clear_error();
    throw PCError::invalid(message);
}

xmlNode* required(xmlNode* node, const char* path) {
    const std::vector<xmlNode*> found = xml::find(node, path);
    if (found.size() != 1) fail(structureMessage);
    return found.front();
}

Bytes sha256(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> value{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), value.data(), &length, EVP_sha256(), nullptr) != 1)
        fail("No se pudo calcular el resumen SHA-256.");
    return Bytes(value.begin(), value.begin() + length);
}

std::string_view textOf(std::span<const std::uint8_t> bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string digest(std::string_view bytes) {
    return Base64::encode(sha256(bytes));
}

bool isRSA(const EVP_PKEY* key) {
    return key && EVP_PKEY_is_a(key, "RSA");
}

bool isXMLSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A Base64 element value. XML-DSig's Base64 values may be broken into lines, as xmlsec1 and
// most signers write them; white space is the only thing tolerated besides the strict alphabet.
std::optional<Bytes> base64Value(const xmlNode* node) {
    std::string text = xml::stringValue(node);
    std::erase_if(text, isXMLSpace);
    return Base64::decode(text);
}

X509* readCertificate(std::span<const std::uint8_t> der) {
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) return nullptr;
    const unsigned char* cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    if (certificate && cursor != der.data() + der.size()) {
        X509_free(certificate);
        return nullptr;
    }
    return certificate;
}

// Seconds since 1970 of an xsd:dateTime with its zone ("2025-02-23T13:45:11+01:00",
// "2025-02-23T12:45:11.250Z"), fractions of a second dropped; nothing for any other text.
std::optional<std::int64_t> instantOf(std::string_view text) {
    std::size_t at = 0;
    const auto number = [&](std::size_t digits, int& value) {
        if (text.size() - at < digits) return false;
        value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const char c = text[at + i];
            if (c < '0' || c > '9') return false;
            value = value * 10 + (c - '0');
        }
        at += digits;
        return true;
    };
    const auto literal = [&](char c) {
        if (at >= text.size() || text[at] != c) return false;
        ++at;
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!(number(4, year) && literal('-') && number(2, month) && literal('-') && number(2, day) &&
          literal('T') && number(2, hour) && literal(':') && number(2, minute) && literal(':') &&
          number(2, second)))
        return std::nullopt;
    if (literal('.')) {
        const std::size_t fraction = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        if (at == fraction) return std::nullopt;
    }
    int offset = 0;
    if (!literal('Z')) {
        const int sign = literal('+') ? 1 : literal('-') ? -1 : 0;
        int hours = 0, minutes = 0;
        if (sign == 0 || !(number(2, hours) && literal(':') && number(2, minutes)) || minutes > 59 ||
            hours * 60 + minutes > 14 * 60)
            return std::nullopt;
        offset = sign * (hours * 60 + minutes) * 60;
    }
    if (at != text.size()) return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1 ||
        day > monthDays[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    // Days from 1970-01-01 of the civil date, counting years from March so that the leap day
    // comes last.
    const int y = month <= 2 ? year - 1 : year;
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = std::int64_t{era} * 146097 + dayOfEra - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second - offset;
}

// The certificate must be valid at the signing time: a signature made outside that window names a
// certificate that did not vouch for the key then.
void checkValidity(std::span<const std::uint8_t> der, std::string_view timestamp) {
    const std::optional<std::int64_t> when = instantOf(timestamp);
    if (!when) fail(timeFormatMessage);
    const std::unique_ptr<X509, X509Free> certificate(readCertificate(der));
    if (!certificate) fail(certificateMessage);
    const auto instant = static_cast<std::time_t>(*when);
    const int fromStart = ASN1_TIME_cmp_time_t(X509_get0_notBefore(certificate.get()), instant);
    const int fromEnd = ASN1_TIME_cmp_time_t(X509_get0_notAfter(certificate.get()), instant);
    if (fromStart == -2 || fromEnd == -2) fail(certificateMessage);
    if (fromStart > 0) fail(earlyMessage);
    if (fromEnd < 0) fail(expiredMessage);
}

// A serial number as written in an XML integer: white space around it and leading zeros do not
// count.
std::string serialValue(std::string text) {
    std::erase_if(text, isXMLSpace);
    const std::size_t first = text.find_first_not_of('0');
    return first == std::string::npos ? (text.empty() ? text : "0") : text.substr(first);
}

// The serial number of a fiscal signature: its text from the certificate reader, checked to be
// digits only before it is written unescaped.
std::string serialText(const CertificateDER::Details& details) {
    for (const char c : details.serial)
        if (c < '0' || c > '9') fail(issuerMessage);
    return details.serial;
}

std::string signatureElement(std::string_view id, std::string_view recordDigest, std::string_view certificate,
                             std::string_view certificateDigest, const CertificateDER::Details& details,
                             std::string_view timestamp) {
    const std::string properties = std::string(id) + "-properties";
    const std::string key = std::string(id) + "-key";
    const std::string reference = std::string(id) + "-reference";
    const auto digestMethod = [](std::string_view algorithm) {
        return "<ds:DigestMethod Algorithm=\"" + std::string(algorithm) + "\"/>";
    };
    std::string s;
    s.reserve(4096 + certificate.size());
    s += "<ds:Signature xmlns:ds=\"" + std::string(ds) + "\" Id=\"" + std::string(id) + "\">";
    s += "<ds:SignedInfo>";
    s += "<ds:CanonicalizationMethod Algorithm=\"" + std::string(c14nMethod) + "\"/>";
    s += "<ds:SignatureMethod Algorithm=\"" + std::string(rsaSHA256) + "\"/>";
    s += "<ds:Reference Id=\"" + reference + "\" URI=\"\"><ds:Transforms><ds:Transform Algorithm=\"" +
         std::string(ds) + "enveloped-signature\"/></ds:Transforms>";
    s += digestMethod(sha256Method) + "<ds:DigestValue>" + std::string(recordDigest) +
         "</ds:DigestValue></ds:Reference>";
    s += "<ds:Reference Type=\"" + std::string(signedPropertiesType) + "\" URI=\"#" + properties + "\">";
    s += digestMethod(sha256Method) + "<ds:DigestValue/></ds:Reference>";
    s += "<ds:Reference URI=\"#" + key + "\">" + digestMethod(sha256Method) +
         "<ds:DigestValue/></ds:Reference>";
    s += "</ds:SignedInfo>";
    s += "<ds:SignatureValue/>";
    s += "<ds:KeyInfo Id=\"" + key + "\"><ds:X509Data><ds:X509Certificate>" + std::string(certificate) +
         "</ds:X509Certificate></ds:X509Data></ds:KeyInfo>";
    s += "<ds:Object><xades:QualifyingProperties xmlns:xades=\"" + std::string(xades) + "\" Target=\"#" +
         std::string(id) + "\">";
    s += "<xades:SignedProperties Id=\"" + properties + "\"><xades:SignedSignatureProperties>";
    s += "<xades:SigningTime>" + escape(timestamp) + "</xades:SigningTime>";
    s += "<xades:SigningCertificate><xades:Cert><xades:CertDigest>" + digestMethod(sha256Method) +
         "<ds:DigestValue>" + std::string(certificateDigest) + "</ds:DigestValue></xades:CertDigest>";
    s += "<xades:IssuerSerial><ds:X509IssuerName>" + escape(details.issuer) +
         "</ds:X509IssuerName><ds:X509SerialNumber>" + serialText(details) +
         "</ds:X509SerialNumber></xades:IssuerSerial></xades:Cert></xades:SigningCertificate>";
    s +=
        "<xades:SignaturePolicyIdentifier><xades:SignaturePolicyId><xades:SigPolicyId><xades:Identifier>" +
        std::string(policyIdentifier) + "</xades:Identifier></xades:SigPolicyId><xades:SigPolicyHash>" +
        digestMethod(sha1Method) + "<ds:DigestValue>" + std::string(policyDigest) +
        "</ds:DigestValue></xades:SigPolicyHash></xades:SignaturePolicyId></xades:SignaturePolicyIdentifier>";
    s += "</xades:SignedSignatureProperties>";
    s += "<xades:SignedDataObjectProperties><xades:DataObjectFormat ObjectReference=\"#" + reference +
         "\"><xades:MimeType>text/xml</xades:MimeType></xades:DataObjectFormat></"
         "xades:SignedDataObjectProperties>";
    s += "</xades:SignedProperties></xades:QualifyingProperties></ds:Object></ds:Signature>";
    return s;
}

// Where the signature goes: the Evento of an event record, the root of any other record.
xmlNode* signatureParent(xmlNode* root) {
    if (xml::localName(root) != "RegistroEvento") return root;
    for (xmlNode* child = root->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE && xml::localName(child) == "Evento") return child;
    return root;
}

std::string qualifiedName(const xmlNode* element) {
    std::string name;
    if (element->ns && element->ns->prefix)
        name.append(reinterpret_cast<const char*>(element->ns->prefix)).append(":");
    return name.append(xml::localName(element));
}

// The position of the element's end tag when it closes the text (after trailing white space).
std::optional<std::size_t> endTag(std::string_view text, const xmlNode* element) {
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t'))
        text.remove_suffix(1);
    const std::string tag = "</" + qualifiedName(element) + ">";
    if (text.size() < tag.size() || text.substr(text.size() - tag.size()) != tag) return std::nullopt;
    return text.size() - tag.size();
}

// The record's own bytes with the signature inserted before the end tag of its parent, so that
// everything outside the signature stays byte for byte as the record was built. Only when the
// bytes are UTF-8 and the parent's end tag is plainly at the end (the root, or the root's last
// child); the caller then checks the result by verifying it.
std::optional<std::string> spliced(std::string_view original, xmlDoc* document, xmlNode* parent,
                                   std::string_view signature) {
    if (document->encoding && std::strcmp(reinterpret_cast<const char*>(document->encoding), "UTF-8") != 0 &&
        std::strcmp(reinterpret_cast<const char*>(document->encoding), "utf-8") != 0)
        return std::nullopt;
    xmlNode* root = xmlDocGetRootElement(document);
    std::optional<std::size_t> at = endTag(original, root);
    if (at && parent != root) {
        for (const xmlNode* next = parent->next; next; next = next->next)
            if (next->type != XML_TEXT_NODE) return std::nullopt;
        if (parent->parent != root) return std::nullopt;
        at = endTag(original.substr(0, *at), parent);
    }
    if (!at) return std::nullopt;
    std::string result;
    result.reserve(original.size() + signature.size());
    result.append(original.substr(0, *at)).append(signature).append(original.substr(*at));
    return result;
}

// Nothing but white space: a document with no root element at all.
bool isBlank(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t byte : bytes)
        if (byte != ' ' && byte != '\t' && byte != '\n' && byte != '\r') return false;
    return true;
}

bool isReferenceIdentifier(std::string_view identifier) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(identifier.data());
    const auto length = static_cast<std::int64_t>(identifier.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0 || !(u_isalpha(c) || u_isdigit(c) || c == '-')) return false;
    }
    return true;
}

Bytes digestOfReference(xmlDoc* document, xmlNode* root, xmlNode* signature, const std::string& uri) {
    if (uri.empty()) {
        // The enveloped-signature transform: the whole document, processing instructions outside
        // the root included, without the signature.
        return sha256(xml::canonical(document, signature));
    }
    const std::string_view identifier = std::string_view(uri).substr(1);
    if (uri.front() != '#' || !isReferenceIdentifier(identifier)) fail(externalMessage);
    const std::string path = ".//*[@Id='" + std::string(identifier) + "']";
    const std::vector<xmlNode*> targets = xml::find(root, path.c_str());
    if (targets.size() != 1) fail(identifierMessage);
    return sha256(xml::canonical(targets.front()));
}

// The certificate the signed properties name must be the one in KeyInfo, whose key made the
// signature: same digest, issuer and serial number. What the properties name is only signed when
// one of the (already checked) references covers them.
void checkSigningCertificate(xmlNode* signature, const std::vector<xmlNode*>& references,
                             std::span<const std::uint8_t> der) {
    xmlNode* properties = required(signature, signedPropertiesPath);
    std::string id;
    bool covered = false;
    if (xml::attribute(properties, "Id", id) && !id.empty()) {
        for (xmlNode* reference : references) {
            std::string uri;
            if (xml::attribute(reference, "URI", uri) && uri == "#" + id) covered = true;
        }
    }
    if (!covered) fail(referencesMessage);

    xmlNode* named = required(properties, signingCertificatePath);
    std::string algorithm;
    if (!xml::attribute(required(named, certDigestMethodPath), "Algorithm", algorithm) ||
        algorithm != sha256Method)
        fail(algorithmMessage);
    const std::optional<Bytes> namedDigest = base64Value(required(named, certDigestValuePath));
    const std::string namedIssuer = xml::stringValue(required(named, issuerNamePath));
    const std::string namedSerial = serialValue(xml::stringValue(required(named, serialNumberPath)));
    const CertificateDER::Details details = CertificateDER::details(der);
    if (!namedDigest || *namedDigest != sha256(textOf(der)) || namedIssuer != details.issuer ||
        namedSerial != details.serial)
        fail(namedCertificateMessage);
}

} // namespace

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

Bytes sign(std::span<const std::uint8_t> xmlBytes, const PrivateKey& key,
           std::span<const std::uint8_t> certificateDER, std::string_view timestamp) {
    const PrivateKey::Handle* handle = key.handle();
    if (!handle || !isRSA(handle->key)) fail(keyMessage);
    if (EVP_PKEY_get_bits(handle->key) < minimumKeyBits) fail(shortKeyMessage);

    if (isBlank(xmlBytes)) fail(recordMessage);
    xml::Document document = xml::parse(xmlBytes);
    xmlNode* root = xmlDocGetRootElement(document.get());
    if (!root || !xml::find(root, anySignature).empty()) fail(recordMessage);
    // What the enveloped-signature transform will see: the whole document before the signature
    // exists, processing instructions outside the root included.
    const std::string recordDigest = digest(xml::canonical(document.get(), nullptr));

    const CertificateDER::Details details = CertificateDER::details(certificateDER);
    if (!RecordText::isXMLText(details.issuer)) fail(issuerMessage);
    if (!RecordText::isXMLText(timestamp)) fail(timeMessage);
    checkValidity(certificateDER, timestamp);
    const std::string certificateDigest =
        digest(std::string_view(reinterpret_cast<const char*>(certificateDER.data()), certificateDER.size()));
    const std::string id = "sig-" + Uuid::random().text();

    const std::string text = signatureElement(id, recordDigest, Base64::encode(certificateDER),
                                              certificateDigest, details, timestamp);
    xml::Document fragment = xml::parse(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    xmlNode* signature = xmlDocCopyNode(xmlDocGetRootElement(fragment.get()), document.get(), 1);
    if (!signature) fail(recordMessage);
    xmlNode* parent = signatureParent(root);
    if (!xmlAddChild(parent, signature)) {
        xmlFreeNode(signature);
        fail(recordMessage);
    }

    const std::vector<xmlNode*> references = xml::find(signature, referencesPath);
    if (references.size() != 3) fail(structureMessage);
    const std::string propertiesDigest = digest(xml::canonical(required(signature, signedPropertiesPath)));
    xml::setStringValue(required(references[1], digestValuePath), propertiesDigest);
    const std::string keyInfoDigest = digest(xml::canonical(required(signature, keyInfoPath)));
    xml::setStringValue(required(references[2], digestValuePath), keyInfoDigest);

    const std::string signedInfo = xml::canonical(required(signature, signedInfoPath));
    MDContext context(EVP_MD_CTX_new());
    std::size_t length = 0;
    Bytes value;
    bool signedOK =
        context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, handle->key) == 1 &&
        EVP_DigestSign(context.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(signedInfo.data()), signedInfo.size()) == 1;
    if (signedOK) {
        value.resize(length);
        signedOK =
            EVP_DigestSign(context.get(), value.data(), &length,
                           reinterpret_cast<const unsigned char*>(signedInfo.data()), signedInfo.size()) == 1;
        value.resize(length);
    }
    if (!signedOK) {
        const unsigned long error = ERR_peek_last_error();
        std::string description = "error de firma";
        if (error != 0) {
            std::array<char, 256> buffer{};
            ERR_error_string_n(error, buffer.data(), buffer.size());
            description = buffer.data();
        }
        ERR_clear_error();
        throw PCError::invalid(signingMessage + description);
    }
    xml::setStringValue(required(signature, signatureValuePath), Base64::encode(value));

    const std::string_view original(reinterpret_cast<const char*>(xmlBytes.data()), xmlBytes.size());
    if (std::optional<std::string> result =
            spliced(original, document.get(), parent, xml::serialise(document.get(), signature))) {
        try {
            verify(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(result->data()),
                                                 result->size()));
            return Bytes(result->begin(), result->end());
        } catch (const PCError&) {
            // Written out whole below instead.
        }
    }
    const std::string whole = xml::serialise(document.get());
    const Bytes output(whole.begin(), whole.end());
    verify(output);
    return output;
}

void verify(std::span<const std::uint8_t> xmlBytes) {
    if (isBlank(xmlBytes)) fail(emptyMessage);
    xml::Document document = xml::parse(xmlBytes);
    xmlNode* root = xmlDocGetRootElement(document.get());
    if (!root) fail(emptyMessage);

    const std::vector<xmlNode*> signatures = xml::find(root, anySignature);
    if (signatures.size() != 1 || xml::namespaceOf(signatures.front()) != ds) fail(oneSignatureMessage);
    xmlNode* signature = signatures.front();

    xmlNode* signedInfo = required(signature, signedInfoPath);
    xmlNode* method = required(signedInfo, signatureMethodPath);
    std::string algorithm;
    if (!xml::attribute(method, "Algorithm", algorithm) || algorithm != rsaSHA256) fail(algorithmMessage);

    const std::optional<Bytes> certificateBytes = base64Value(required(signature, certificatePath));
    const std::optional<Bytes> signatureValue = base64Value(required(signature, signatureValuePath));
    if (!certificateBytes || !signatureValue) fail(unreadableMessage);
    const std::unique_ptr<X509, X509Free> certificate(readCertificate(*certificateBytes));
    if (!certificate) fail(unreadableMessage);
    EVP_PKEY* publicKey = X509_get0_pubkey(certificate.get());
    if (!publicKey) fail(unreadableMessage);
    if (isRSA(publicKey) && EVP_PKEY_get_bits(publicKey) < minimumKeyBits) fail(shortCertificateKeyMessage);

    const std::string canonicalInfo = xml::canonical(signedInfo);
    MDContext context(EVP_MD_CTX_new());
    const bool matches =
        isRSA(publicKey) && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey) == 1 &&
        EVP_DigestVerify(context.get(), signatureValue->data(), signatureValue->size(),
                         reinterpret_cast<const unsigned char*>(canonicalInfo.data()),
                         canonicalInfo.size()) == 1;
    if (!matches) fail(mismatchMessage);

    const std::vector<xmlNode*> references = xml::find(signedInfo, referencePath);
    if (references.size() != 3) fail(referencesMessage);
    for (xmlNode* reference : references) {
        std::string uri;
        if (!xml::attribute(reference, "URI", uri)) fail(noURIMessage);
        const std::optional<Bytes> expected = base64Value(required(reference, digestValuePath));
        const Bytes computed = digestOfReference(document.get(), root, signature, uri);
        if (!expected || expected->empty() || *expected != computed) fail(modifiedMessage);
    }
    checkSigningCertificate(signature, references, *certificateBytes);
}

} // namespace pizzacore::FiscalSignature
