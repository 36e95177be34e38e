#include "XmlDocument.hpp"

#include <PizzaCore/Foundation/PCError.hpp>

#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>

#include <climits>
#include <mutex>

namespace pizzacore::xml {
namespace {

constexpr const char* doctypeMessage =
    "El registro XML no puede llevar una declaración DOCTYPE: sus entidades "
    "podrían cambiar lo que se firma o se lee.";
constexpr const char* unreadableMessage = "El registro XML no se puede leer: ";
constexpr const char* internalMessage = "No se pudo procesar el registro XML.";

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

std::string take(xmlOutputBuffer* buffer) {
    std::string text;
    if (buffer->conv)
        text.assign(reinterpret_cast<const char*>(xmlBufContent(buffer->conv)), xmlBufUse(buffer->conv));
    else
        text.assign(reinterpret_cast<const char*>(xmlOutputBufferGetContent(buffer)),
                    xmlOutputBufferGetSize(buffer));
    return text;
}

} // namespace

Document parse(std::span<const std::uint8_t> bytes) {
    initialise();
    const QuietErrors quiet;
    if (bytes.size() > static_cast<std::size_t>(INT_MAX))
        throw PCError::invalid(unreadableMessage + std::string("demasiado grande"));
    std::unique_ptr<xmlParserCtxt, ParserFree> context(xmlNewParserCtxt());
    if (!context || !context->sax) throw PCError::invalid(internalMessage);
    ParseState state;
    context->_private = &state;
    context->sax->internalSubset = onDoctype;
    context->sax->serror = onError;
    context->sax->error = nullptr;
    context->sax->warning = nullptr;
    // No network, no external DTD and no entity substitution; everything else as written.
    constexpr int options = XML_PARSE_NONET | XML_PARSE_NOWARNING;
    Document document(xmlCtxtReadMemory(context.get(), reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<int>(bytes.size()), nullptr, nullptr, options));
    if (state.doctype) throw PCError::invalid(doctypeMessage);
    if (!document || !context->wellFormed) {
        throw PCError::invalid(unreadableMessage +
                               (state.error.empty() ? std::string("XML mal formado") : state.error));
    }
    if (document->intSubset || document->extSubset) throw PCError::invalid(doctypeMessage);
    return document;
}

Document copy(const xmlDoc* document) {
    Document result(xmlCopyDoc(const_cast<xmlDoc*>(document), 1));
    if (!result) throw PCError::invalid(internalMessage);
    return result;
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

std::string canonical(xmlNode* element) {
    const QuietErrors quiet;
    xmlOutputBuffer* buffer = xmlAllocOutputBuffer(nullptr);
    if (!buffer) throw PCError::invalid(internalMessage);
    const int written = xmlC14NExecute(element->doc, inSubtree, element, XML_C14N_1_0, nullptr, 0, buffer);
    std::string text = written < 0 ? std::string() : take(buffer);
    xmlOutputBufferClose(buffer);
    if (written < 0) throw PCError::invalid("El registro XML no se puede canonicalizar.");
    return text;
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
