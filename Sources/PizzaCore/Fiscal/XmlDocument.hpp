#pragma once

// The few XML operations the fiscal signature needs, over libxml2: a parse that refuses document
// type declarations and never touches the network, XPath searches, Canonical XML 1.0 of an
// element and serialisation. Private to the fiscal module; nothing here changes libxml2's
// process-wide settings (error handlers are per parse and per XPath context).

#include <PizzaCore/Foundation/Bytes.hpp>

#include <libxml/tree.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pizzacore::xml {

struct DocumentFree {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};
using Document = std::unique_ptr<xmlDoc, DocumentFree>;

// Parses the bytes keeping comments, processing instructions, CDATA sections and white space.
// Throws PCError for bytes that are not well-formed XML and for any DOCTYPE (internal or
// external), which is refused before its content is read. Before the parser sees them, the bytes
// must be UTF-8 and stay inside bounds no fiscal record comes near (size, elements, attributes
// per element, namespace declarations, depth): libxml2's work grows with the square of the
// attributes of an element and of the namespaces in scope, so hostile input is refused on sight.
Document parse(std::span<const std::uint8_t> bytes);

// The nodes the XPath 1.0 expression selects from `context`, in document order.
std::vector<xmlNode*> find(xmlNode* context, const char* path);

// Canonical XML 1.0 without comments of the element as a document subset: the element and its
// descendants, with every namespace declaration in scope.
std::string canonical(xmlNode* element);
// Canonical XML 1.0 without comments of the whole document (processing instructions outside the
// root included) less the subtree of `excluded` when there is one: what a same-document
// reference with the enveloped-signature transform covers.
std::string canonical(xmlDoc* document, const xmlNode* excluded);

// The whole document as UTF-8, without an XML declaration.
std::string serialise(xmlDoc* document);
// One node as UTF-8 markup, as it would appear in the serialised document.
std::string serialise(xmlDoc* document, xmlNode* node);

std::string stringValue(const xmlNode* node);
void setStringValue(xmlNode* node, std::string_view value);
std::string_view localName(const xmlNode* node);
std::string_view namespaceOf(const xmlNode* node);
// The attribute's value when the element has it (without a namespace).
bool attribute(const xmlNode* element, const char* name, std::string& value);

} // namespace pizzacore::xml
