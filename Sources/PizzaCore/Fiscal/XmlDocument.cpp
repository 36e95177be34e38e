#include "XmlDocument.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <string_view>

namespace pizzacore::xml {
namespace {

constexpr const char* doctypeMessage =
    "El registro XML no puede llevar una declaración DOCTYPE: sus entidades "
    "podrían cambiar lo que se firma o se lee.";
constexpr const char* unreadableMessage = "El registro XML no se puede leer: ";
constexpr const char* internalMessage = "No se pudo procesar el registro XML.";
constexpr const char* sizeMessage = "El registro XML es demasiado grande.";
constexpr const char* elementsMessage = "El registro XML tiene demasiados elementos.";
constexpr const char* attributesMessage = "El registro XML tiene demasiados atributos en un elemento.";
constexpr const char* namespacesMessage = "El registro XML declara demasiados espacios de nombres.";
constexpr const char* depthMessage = "El registro XML tiene demasiados niveles de anidamiento.";
constexpr const char* encodingMessage = "El registro XML debe estar codificado en UTF-8.";

// A signed record is a few kilobytes (some tens for an invoice with a thousand rates): at most a
// few thousand elements of a dozen levels, three namespaces and a handful of attributes per
// element. The bounds are far beyond that and keep the worst parse and canonicalisation within a
// fraction of a second.
constexpr std::size_t maximumBytes = 1 << 20;
constexpr std::size_t maximumElements = 20000;
constexpr std::size_t maximumAttributes = 64; // namespace declarations included
constexpr std::size_t maximumDepth = 64;
// Canonicalisation looks up, for each element, every namespace declaration in scope against the
// others: its work is the sum over the elements of the square of the declarations in scope. A
// signed record needs a few hundred; a signer that repeats its declarations on every element of
// the signature, a few thousand.
constexpr std::size_t maximumNamespaceWork = 1'000'000;

// libxml2 must be initialised once before its first use from any thread; xmlInitParser is not
// safe to race on older versions, so every entry point goes through this.
void initialise() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

const xmlChar* chars(const char* text) {
    return reinterpret_cast<const xmlChar*>(text);
}

// What one parse learnt through its own handlers.
struct ParseState {
    bool doctype = false;
    std::string error;
};

ParseState& stateOf(void* context) {
    return *static_cast<ParseState*>(static_cast<xmlParserCtxt*>(context)->_private);
}

// Called when a DOCTYPE is read, before its internal subset: stop right there, so that no entity
// is declared, expanded or fetched.
void onDoctype(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    stateOf(context).doctype = true;
    xmlStopParser(static_cast<xmlParserCtxt*>(context));
}

void onError(void* context, xmlErrorPtr error) {
    ParseState& state = stateOf(context);
    if (!state.error.empty() || !error || error->level < XML_ERR_ERROR) return;
    std::string message = error->message ? error->message : "XML mal formado";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    state.error = message + " (línea " + std::to_string(error->line) + ")";
}

void ignoreXPathError(void*, xmlErrorPtr) {}

// libxml2 reports some errors (character encoding, canonicalisation) with no parser context, to
// the calling thread's handler, which prints them by default. For the length of one of our calls
// this thread's handler swallows them; the caller's own handler is put back afterwards, so
// nothing outside the call sees a change. The failures themselves reach the caller as PCError.
class QuietErrors {
public:
    QuietErrors()
        : handler_(xmlStructuredError)
        , context_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, ignoreXPathError);
    }
    ~QuietErrors() { xmlSetStructuredErrorFunc(context_, handler_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlStructuredErrorFunc handler_;
    void* context_;
};

struct ParserFree {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};
struct XPathContextFree {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};

// Whether a node belongs to the subtree of `data`; namespace nodes belong where their element does.
int inSubtree(void* data, xmlNodePtr node, xmlNodePtr parent) {
    const auto* apex = static_cast<const xmlNode*>(data);
    const xmlNode* current = (node == nullptr || node->type == XML_NAMESPACE_DECL) ? parent : node;
    for (; current; current = current->parent)
        if (current == apex) return 1;
    return 0;
}

// Everything but the subtree of `data` (everything when it is null).
int outsideSubtree(void* data, xmlNodePtr node, xmlNodePtr parent) {
    return data && inSubtree(data, node, parent) ? 0 : 1;
}

std::string take(xmlOutputBuffer* buffer) {
    std::string text;
    if (buffer->conv)
        text.assign(reinterpret_cast<const char*>(xmlBufContent(buffer->conv)), xmlBufUse(buffer->conv));
    else
        text.assign(reinterpret_cast<const char*>(xmlOutputBufferGetContent(buffer)),
                    xmlOutputBufferGetSize(buffer));
    return text;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The encoding an XML declaration at the start names; empty when there is no declaration or it
// names none.
std::string_view declaredEncoding(std::string_view text) {
    if (!text.starts_with("<?xml") || text.size() < 6 || !isSpace(text[5])) return {};
    const std::string_view declaration = text.substr(0, text.find("?>"));
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return {};
    at += 8;
    while (at < declaration.size() && isSpace(declaration[at]))
        ++at;
    if (at >= declaration.size() || declaration[at] != '=') return {};
    ++at;
    while (at < declaration.size() && isSpace(declaration[at]))
        ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return {};
    const std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos) return {};
    return declaration.substr(at + 1, end - at - 1);
}

// XML 1.0's NameStartChar, as libxml2 reads it.
bool isNameStart(UChar32 c) {
    return c == ':' || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

// The first code point at `at`; negative when the bytes there are not UTF-8.
UChar32 codePointAt(std::string_view text, std::size_t at) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int64_t>(text.size());
    auto i = static_cast<std::int64_t>(at);
    UChar32 c = -1;
    if (i < length) U8_NEXT(bytes, i, length, c);
    return c;
}

// Checks, before libxml2 sees them, that the bytes are UTF-8 and keep the bounds, in one linear
// pass. The pass reads the markup as the parser does: for a well-formed document without a DOCTYPE
// the only markup is tags, comments, CDATA sections and processing instructions, and "<" appears
// raw nowhere else. After an error libxml2 does not stop but reads on from where it gave up, so
// the pass also refuses what would make the parser give up inside a comment, a processing
// instruction, a CDATA section or an attribute value and read the rest of it as markup the count
// never saw: characters XML does not allow, a processing instruction without a name, "<" in an
// attribute value, "<!" of an unknown kind. Every such document is malformed anyway.
class Screen {
public:
    explicit Screen(std::string_view text)
        : text_(text) {}

    // The refusal's message; nothing when the bytes may go to the parser.
    std::optional<std::string> problem() {
        if (text_.size() > maximumBytes) return sizeMessage;
        if (text_.starts_with("\xEF\xBB\xBF")) text_.remove_prefix(3);
        if (auto characters = badCharacter()) return characters;
        const std::string_view encoding = declaredEncoding(text_);
        if (!encoding.empty() && !equalsIgnoringCase(encoding, "UTF-8")) return encodingMessage;
        return markup();
    }

private:
    static constexpr std::size_t npos = std::string_view::npos;

    std::optional<std::string> badCharacter() const {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text_.data());
        const auto length = static_cast<std::int64_t>(text_.size());
        for (std::int64_t i = 0; i < length;) {
            const std::int64_t at = i;
            UChar32 c = 0;
            U8_NEXT(bytes, i, length, c);
            // UTF-16 and UTF-32 put a zero byte beside every ASCII character.
            if (c < 0 || c == 0) return encodingMessage;
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
                return malformed("carácter no permitido", static_cast<std::size_t>(at));
        }
        return std::nullopt;
    }

    std::string malformed(std::string_view what, std::size_t at) const {
        const auto line =
            1 + std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(at), '\n');
        return unreadableMessage + std::string(what) + " (línea " + std::to_string(line) + ")";
    }

    void skipSpaces() {
        while (i_ < text_.size() && isSpace(text_[i_]))
            ++i_;
    }

    // Moves past the next `end`; false when the text ends first.
    bool skipPast(std::string_view end) {
        const std::size_t at = text_.find(end, i_);
        if (at == npos) return false;
        i_ = at + end.size();
        return true;
    }

    std::optional<std::string> markup() {
        for (i_ = text_.find('<'); i_ != npos; i_ = text_.find('<', i_)) {
            const std::string_view rest = text_.substr(i_);
            const std::size_t at = i_;
            if (rest.starts_with("<!--")) {
                i_ += 4;
                if (!skipPast("-->")) return std::nullopt;
            } else if (rest.starts_with("<![CDATA[")) {
                i_ += 9;
                if (!skipPast("]]>")) return std::nullopt;
            } else if (rest.starts_with("<!DOCTYPE")) {
                return doctypeMessage;
            } else if (rest.starts_with("<!")) {
                return malformed("declaración no admitida", at);
            } else if (rest.starts_with("<?")) {
                i_ += 2;
                if (i_ < text_.size() && !isNameStart(codePointAt(text_, i_)))
                    return malformed("instrucción de proceso sin nombre", at);
                if (!skipPast("?>")) return std::nullopt;
            } else if (rest.starts_with("</")) {
                if (depth_ > 0) inScope_ -= declared_[--depth_];
                i_ += 2;
            } else if (auto refusal = startTag()) {
                return refusal;
            }
            if (i_ >= text_.size()) return std::nullopt;
        }
        return std::nullopt;
    }

    // A start tag from its "<": the element, its attributes and namespace declarations.
    std::optional<std::string> startTag() {
        const std::size_t at = i_;
        if (++elements_ > maximumElements) return elementsMessage;
        const auto isNameEnd = [](char c) {
            return isSpace(c) || c == '=' || c == '>' || c == '/' || c == '<' || c == '"' || c == '\'';
        };
        ++i_;
        while (i_ < text_.size() && !isNameEnd(text_[i_]))
            ++i_;
        std::size_t attributes = 0, namespaces = 0;
        for (;;) {
            skipSpaces();
            if (i_ >= text_.size()) return std::nullopt;
            const char c = text_[i_];
            if (c == '>' || c == '/') {
                const std::size_t visible = inScope_ + namespaces;
                namespaceWork_ += visible * visible;
                if (namespaceWork_ > maximumNamespaceWork) return namespacesMessage;
                if (c == '>') {
                    if (depth_ == maximumDepth) return depthMessage;
                    declared_[depth_++] = namespaces;
                    inScope_ += namespaces;
                }
                ++i_;
                return std::nullopt;
            }
            const std::size_t nameStart = i_;
            while (i_ < text_.size() && !isNameEnd(text_[i_]))
                ++i_;
            const std::string_view name = text_.substr(nameStart, i_ - nameStart);
            skipSpaces();
            if (name.empty() || i_ >= text_.size() || text_[i_] != '=')
                return malformed("etiqueta mal formada", at);
            ++i_;
            skipSpaces();
            if (i_ >= text_.size() || (text_[i_] != '"' && text_[i_] != '\''))
                return malformed("etiqueta mal formada", at);
            const std::size_t close = text_.find(text_[i_], i_ + 1);
            if (close == npos) return std::nullopt;
            if (text_.substr(i_, close - i_).find('<') != npos)
                return malformed("«<» en el valor de un atributo", at);
            i_ = close + 1;
            if (++attributes > maximumAttributes) return attributesMessage;
            if (name == "xmlns" || name.starts_with("xmlns:")) ++namespaces;
        }
    }

    std::string_view text_;
    std::size_t i_ = 0;
    std::size_t elements_ = 0, depth_ = 0, inScope_ = 0, namespaceWork_ = 0;
    // The namespace declarations of each open element.
    std::array<std::size_t, maximumDepth> declared_{};
};

} // namespace

Document parse(std::span<const std::uint8_t> bytes) {
    initialise();
    const QuietErrors quiet;
    if (std::optional<std::string> problem =
            Screen(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())).problem())
        throw PCError::invalid(*problem);
    std::unique_ptr<xmlParserCtxt, ParserFree> context(xmlNewParserCtxt());
    if (!context || !context->sax) throw PCError::invalid(internalMessage);
    ParseState state;
    context->_private = &state;
    context->sax->internalSubset = onDoctype;
    context->sax->serror = onError;
    context->sax->error = nullptr;
    context->sax->warning = nullptr;
    // No network, no external DTD and no entity substitution; everything else as written. Always
    // UTF-8, the encoding the bounds were checked in.
    constexpr int options = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
    Document document(xmlCtxtReadMemory(context.get(), reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<int>(bytes.size()), nullptr, "UTF-8", options));
    if (state.doctype) throw PCError::invalid(doctypeMessage);
    if (!document || !context->wellFormed) {
        throw PCError::invalid(unreadableMessage +
                               (state.error.empty() ? std::string("XML mal formado") : state.error));
    }
    if (document->intSubset || document->extSubset) throw PCError::invalid(doctypeMessage);
    return document;
}

std::vector<xmlNode*> find(xmlNode* context, const char* path) {
    const QuietErrors quiet;
    std::unique_ptr<xmlXPathContext, XPathContextFree> xpath(xmlXPathNewContext(context->doc));
    if (!xpath) throw PCError::invalid(internalMessage);
    xpath->error = ignoreXPathError;
    xpath->node = context;
    std::unique_ptr<xmlXPathObject, XPathObjectFree> result(xmlXPathEvalExpression(chars(path), xpath.get()));
    if (!result) throw PCError::invalid(internalMessage);
    std::vector<xmlNode*> nodes;
    if (result->type == XPATH_NODESET && result->nodesetval) {
        const xmlNodeSet* set = result->nodesetval;
        nodes.assign(set->nodeTab, set->nodeTab + set->nodeNr);
    }
    return nodes;
}

namespace {

std::string canonical(xmlDoc* document, xmlC14NIsVisibleCallback visible, void* data) {
    const QuietErrors quiet;
    xmlOutputBuffer* buffer = xmlAllocOutputBuffer(nullptr);
    if (!buffer) throw PCError::invalid(internalMessage);
    const int written = xmlC14NExecute(document, visible, data, XML_C14N_1_0, nullptr, 0, buffer);
    std::string text = written < 0 ? std::string() : take(buffer);
    xmlOutputBufferClose(buffer);
    if (written < 0) throw PCError::invalid("El registro XML no se puede canonicalizar.");
    return text;
}

} // namespace

std::string canonical(xmlNode* element) {
    return canonical(element->doc, inSubtree, element);
}

std::string canonical(xmlDoc* document, const xmlNode* excluded) {
    return canonical(document, outsideSubtree, const_cast<xmlNode*>(excluded));
}

std::string serialise(xmlDoc* document) {
    const QuietErrors quiet;
    xmlBuffer* buffer = xmlBufferCreate();
    if (!buffer) throw PCError::invalid(internalMessage);
    xmlSaveCtxt* save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL);
    long written = -1;
    if (save) {
        written = xmlSaveDoc(save, document);
        if (xmlSaveClose(save) < 0) written = -1;
    }
    std::string text = written < 0 ? std::string()
                                   : std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                                                 static_cast<std::size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    if (written < 0) throw PCError::invalid(internalMessage);
    // The serialiser ends the document with a line break of its own.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string serialise(xmlDoc* document, xmlNode* node) {
    const QuietErrors quiet;
    xmlBuffer* buffer = xmlBufferCreate();
    if (!buffer) throw PCError::invalid(internalMessage);
    const int written = xmlNodeDump(buffer, document, node, 0, 0);
    std::string text = written < 0 ? std::string()
                                   : std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                                                 static_cast<std::size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    if (written < 0) throw PCError::invalid(internalMessage);
    return text;
}

std::string stringValue(const xmlNode* node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
}

void setStringValue(xmlNode* node, std::string_view value) {
    // xmlNodeSetContent would read entity references in the value; adding content keeps it as
    // plain text.
    xmlNodeSetContentLen(node, nullptr, 0);
    xmlNodeAddContentLen(node, reinterpret_cast<const xmlChar*>(value.data()),
                         static_cast<int>(value.size()));
}

std::string_view localName(const xmlNode* node) {
    return node->name ? std::string_view(reinterpret_cast<const char*>(node->name)) : std::string_view();
}

std::string_view namespaceOf(const xmlNode* node) {
    return node->ns && node->ns->href ? std::string_view(reinterpret_cast<const char*>(node->ns->href))
                                      : std::string_view();
}

bool attribute(const xmlNode* element, const char* name, std::string& value) {
    if (element->type != XML_ELEMENT_NODE) return false;
    xmlChar* text = xmlGetNoNsProp(element, chars(name));
    if (!text) return false;
    value = reinterpret_cast<const char*>(text);
    xmlFree(text);
    return true;
}

} // namespace pizzacore::xml
