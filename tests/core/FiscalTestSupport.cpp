#include "FiscalTestSupport.hpp"

#include <libxml/c14n.h>
#include <libxml/catalog.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include <sys/wait.h>

#ifndef VELMORA_FISCAL_SCHEMAS
#error "VELMORA_FISCAL_SCHEMAS names the folder of the tax agency's schemas"
#endif

namespace pizzacore::testing {
namespace {

const std::filesystem::path schemas = VELMORA_FISCAL_SCHEMAS;

void collect(void* data, xmlErrorPtr error) {
    if (error && error->message) static_cast<std::vector<std::string>*>(data)->push_back(error->message);
}

// A loaded schema, kept for the whole run.
class Validator {
public:
    explicit Validator(const std::filesystem::path& file) {
        std::vector<std::string> errors;
        xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(file.c_str());
        xmlSchemaSetParserStructuredErrors(parser, collect, &errors);
        schema_ = xmlSchemaParse(parser);
        xmlSchemaFreeParserCtxt(parser);
        if (!schema_)
            throw std::runtime_error("schema " + file.string() + ": " + (errors.empty() ? "" : errors[0]));
    }
    ~Validator() { xmlSchemaFree(schema_); }

    std::vector<std::string> errors(const Bytes& xml) const {
        std::vector<std::string> errors;
        xmlDocPtr document =
            xmlReadMemory(reinterpret_cast<const char*>(xml.data()), static_cast<int>(xml.size()), nullptr,
                          nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        if (!document) return {"no es XML bien formado"};
        xmlSchemaValidCtxtPtr context = xmlSchemaNewValidCtxt(schema_);
        xmlSchemaSetValidStructuredErrors(context, collect, &errors);
        const int result = xmlSchemaValidateDoc(context, document);
        xmlSchemaFreeValidCtxt(context);
        xmlFreeDoc(document);
        if (result != 0 && errors.empty()) errors.push_back("resultado " + std::to_string(result));
        return errors;
    }

private:
    xmlSchemaPtr schema_ = nullptr;
};

const Validator& validator(Schema schema) {
    static std::once_flag once;
    static std::unique_ptr<Validator> registration, event;
    std::call_once(once, [] {
        xmlInitParser();
        // The test process resolves the XML-DSig schema through the local catalog and never
        // through the network.
        xmlLoadCatalog((schemas / "catalog.xml").c_str());
        xmlSetExternalEntityLoader(xmlNoNetExternalEntityLoader);
        registration = std::make_unique<Validator>(schemas / "SuministroInformacion.xsd");
        event = std::make_unique<Validator>(schemas / "EventosSIF.xsd");
    });
    return schema == Schema::registration ? *registration : *event;
}

// Single quotes for the shell, with any quote inside the path closed, escaped and reopened. Built by
// appending: GCC 12 at -O3 reports a false -Wrestrict on "'" + std::string.
std::string shellQuoted(const std::filesystem::path& path) {
    std::string quoted;
    quoted.reserve(path.native().size() + 2);
    quoted.push_back('\'');
    for (const char c : path.native()) {
        if (c == '\'')
            quoted.append("'\\''");
        else
            quoted.push_back(c);
    }
    quoted.push_back('\'');
    return quoted;
}

std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
    const std::string text = readFile(path);
    return Bytes(text.begin(), text.end());
}

} // namespace

std::vector<std::string> schemaErrors(const Bytes& xml, Schema schema) {
    return validator(schema).errors(xml);
}

int run(const std::string& command, std::string* output) {
    std::FILE* pipe = ::popen(("{ " + command + "; } 2>&1").c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> buffer{};
    std::string text;
    while (const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), pipe))
        text.append(buffer.data(), read);
    const int status = ::pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Credentials& Credentials::shared() {
    static Credentials credentials;
    return credentials;
}

Credentials::Credentials()
    : key_([this] {
        std::string output;
        if (run("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " +
                    shellQuoted(directory_.path() / "key.pem"),
                &output) != 0)
            throw std::runtime_error("openssl genpkey: " + output);
        return FiscalSignature::PrivateKey::fromPEM(readFile(directory_.path() / "key.pem"));
    }()) {
    standard_ = certificate("standard", "/C=ES/O=Example Org/CN=Example CA", "4660");
}

Bytes Credentials::certificate(const std::string& name, const std::string& subject, const std::string& serial,
                               const std::string& options) {
    const std::filesystem::path pem = directory() / (name + ".pem");
    const std::filesystem::path der = directory() / (name + ".der");
    std::string output;
    const std::string command = "openssl req -x509 -new -utf8 -key " + shellQuoted(keyPEM()) + " -subj " +
                                shellQuoted(subject) + " -set_serial " + serial + " -days 30 " + options +
                                " -out " + shellQuoted(pem) + " && openssl x509 -in " + shellQuoted(pem) +
                                " -outform DER -out " + shellQuoted(der);
    if (run(command, &output) != 0) throw std::runtime_error(command + ": " + output);
    return readBytes(der);
}

Credentials::Signer Credentials::signer(const std::string& name, int bits, const std::string& subject,
                                        const std::string& serial) {
    Signer result{directory() / (name + ".key.pem"), directory() / (name + ".pem"), {}};
    const std::filesystem::path der = directory() / (name + ".der");
    std::string output;
    const std::string command =
        "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits) + " -out " +
        shellQuoted(result.keyPEM) + " && openssl req -x509 -new -utf8 -key " + shellQuoted(result.keyPEM) +
        " -subj " + shellQuoted(subject) + " -set_serial " + serial + " -days 30 -out " +
        shellQuoted(result.certificatePEM) + " && openssl x509 -in " + shellQuoted(result.certificatePEM) +
        " -outform DER -out " + shellQuoted(der);
    if (run(command, &output) != 0) throw std::runtime_error(command + ": " + output);
    result.certificate = readBytes(der);
    return result;
}

FiscalSettings sampleSettings() {
    FiscalSettings settings;
    settings.issuerName = "Pizzería Ñandú, S.L.";
    settings.issuerTaxID = "B12345678";
    settings.issuerAddress = "Calle Mayor 1, 28013 Madrid";
    settings.producerName = "Velmora Software S.L.";
    settings.producerTaxID = "A87654321";
    settings.installation = "6F1C2A4E-8B3D-4C5E-9F60-718293A4B5C6";
    return settings;
}

InvoiceProposal sampleProposal(InvoiceKind kind) {
    InvoiceProposal proposal;
    proposal.id = *Uuid::parse("0E4D2C3B-1A2B-4C3D-8E4F-5A6B7C8D9E0F");
    proposal.created = Instant{762000000};
    proposal.operationDate = Instant{762000000}; // 2025-02-23 in Madrid
    proposal.kind = kind;
    proposal.recipientName = "Eventos García S.L.";
    proposal.recipientTaxID = "B87654321";
    proposal.recipientAddress = "Avenida del Puerto 3, Valencia";
    proposal.lines = {
        FiscalLine{Uuid::random(), "Pizza margarita", 2, 1250, 1000},
        FiscalLine{Uuid::random(), "Refresco", 3, 250, 2100},
    };
    if (rectifies(kind)) {
        proposal.correctionOf = Uuid::random();
        proposal.reason = "Error en el precio";
    }
    return proposal;
}

namespace {

// The canonical form of the node set the XPath expression selects.
std::string canonicalSubset(xmlDocPtr document, xmlXPathContextPtr context, const std::string& path) {
    xmlXPathObjectPtr subset = xmlXPathEvalExpression(BAD_CAST path.c_str(), context);
    if (!subset) throw std::runtime_error("XPath: " + path);
    xmlChar* canonical = nullptr;
    const int length =
        xmlC14NDocDumpMemory(document, subset->nodesetval, XML_C14N_1_0, nullptr, 0, &canonical);
    xmlXPathFreeObject(subset);
    if (length < 0) throw std::runtime_error("c14n: " + path);
    const std::string text(reinterpret_cast<const char*>(canonical), static_cast<std::size_t>(length));
    xmlFree(canonical);
    return text;
}

std::string dumped(xmlDocPtr document) {
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(document, &text, &size, "UTF-8");
    std::string result(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    return result;
}

} // namespace

std::string resigned(const std::string& xml, const std::filesystem::path& keyPEM) {
    xmlDocPtr document =
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!document) throw std::runtime_error("resigned: no es XML");
    xmlXPathContextPtr context = xmlXPathNewContext(document);
    xmlXPathRegisterNs(context, BAD_CAST "ds", BAD_CAST "http://www.w3.org/2000/09/xmldsig#");
    const std::string signedInfo =
        canonicalSubset(document, context, "(//. | //@* | //namespace::*)[ancestor-or-self::ds:SignedInfo]");

    const Credentials& credentials = Credentials::shared();
    const std::filesystem::path input = credentials.directory() / "signedinfo.bin";
    const std::filesystem::path output = credentials.directory() / "signature.bin";
    writeFile(input, signedInfo);
    std::string log;
    if (run("openssl dgst -sha256 -sign " + shellQuoted(keyPEM.empty() ? credentials.keyPEM() : keyPEM) +
                " -out " + shellQuoted(output) + " " + shellQuoted(input),
            &log) != 0)
        throw std::runtime_error("openssl dgst: " + log);
    const std::string value = Base64::encode(readBytes(output));

    xmlXPathObjectPtr found = xmlXPathEvalExpression(BAD_CAST "//ds:SignatureValue", context);
    xmlNodeSetContent(found->nodesetval->nodeTab[0], BAD_CAST value.c_str());
    xmlXPathFreeObject(found);
    xmlXPathFreeContext(context);
    std::string result = dumped(document);
    xmlFreeDoc(document);
    return result;
}

std::string redigested(const std::string& xml) {
    xmlDocPtr document =
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!document) throw std::runtime_error("redigested: no es XML");
    xmlXPathContextPtr context = xmlXPathNewContext(document);
    xmlXPathRegisterNs(context, BAD_CAST "ds", BAD_CAST "http://www.w3.org/2000/09/xmldsig#");
    xmlXPathObjectPtr references = xmlXPathEvalExpression(BAD_CAST "//ds:SignedInfo/ds:Reference", context);
    for (int i = 0; references->nodesetval && i < references->nodesetval->nodeNr; ++i) {
        xmlNodePtr reference = references->nodesetval->nodeTab[i];
        xmlChar* uri = xmlGetNoNsProp(reference, BAD_CAST "URI");
        const std::string target = uri ? reinterpret_cast<const char*>(uri) : "";
        xmlFree(uri);
        if (target.size() < 2 || target[0] != '#') continue;
        const std::string canonical = canonicalSubset(
            document, context,
            "(//. | //@* | //namespace::*)[ancestor-or-self::*[@Id='" + target.substr(1) + "']]");
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        EVP_Digest(canonical.data(), canonical.size(), digest.data(), &length, EVP_sha256(), nullptr);
        const std::string value = Base64::encode(std::span<const std::uint8_t>(digest.data(), length));
        for (xmlNodePtr child = reference->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, BAD_CAST "DigestValue"))
                xmlNodeSetContent(child, BAD_CAST value.c_str());
    }
    xmlXPathFreeObject(references);
    xmlXPathFreeContext(context);
    std::string result = dumped(document);
    xmlFreeDoc(document);
    return result;
}

std::string signingTime(int days) {
    const auto when = std::chrono::system_clock::now() + std::chrono::hours(1 + 24 * days);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

} // namespace pizzacore::testing
