// Every XML and HTML parse, with the safe options in one place: no
// network, no DTD loaded, no entity substituted, and an external-entity
// loader that refuses everything, so a document never opens another file
// (a SYSTEM entity naming /etc/passwd, /dev/tty or a FIFO reads nothing)
// and an entity bomb is never expanded.
#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>

#include <cctype>

#include "convert/charset.h"
#include "convert/xml.h"
#include "convert/zip.h"

static xmlParserInputPtr refuse_entity(const char *, const char *, xmlParserCtxtPtr)
{
    return nullptr;
}

// libxml2 reports to stderr by default; a hostile file may make much noise.
static void ignore_error(void *, const char *, ...) {}

void xml_init()
{
    xmlInitParser();
    xmlSetExternalEntityLoader(refuse_entity);
    xmlSetGenericErrorFunc(nullptr, ignore_error);
}

static const int xml_options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
static const int html_options =
    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER | HTML_PARSE_NOIMPLIED;

// ---------------------------------------------------------------- budgeted trees

// What a parse has left to spend, kept in its context.
struct Budget {
    size_t elements = max_elements;
    bool reached = false;
};

// False, and the parser stopped, once the budget is spent.
static bool spend_element(void *context)
{
    auto ctxt = static_cast<xmlParserCtxtPtr>(context);
    auto budget = static_cast<Budget *>(ctxt->_private);
    if (budget->elements > 0) {
        --budget->elements;
        return true;
    }
    budget->reached = true;
    xmlStopParser(ctxt);
    return false;
}

static void counted_element_ns(void *context, const xmlChar *local, const xmlChar *prefix, const xmlChar *uri,
                               int namespaces, const xmlChar **ns, int attributes, int defaulted,
                               const xmlChar **attrs)
{
    if (spend_element(context))
        xmlSAX2StartElementNs(context, local, prefix, uri, namespaces, ns, attributes, defaulted, attrs);
}

static void counted_element(void *context, const xmlChar *name, const xmlChar **attrs)
{
    if (spend_element(context))
        xmlSAX2StartElement(context, name, attrs);
}

// Why a parse stopped short: its budget, the parser's depth, or neither.
static ParseEnd parse_end(xmlParserCtxtPtr ctxt, const Budget &budget)
{
    if (budget.reached)
        return ParseEnd::too_large;
    const char *message = ctxt->lastError.message;
    bool deep = ctxt->errNo == XML_ERR_INTERNAL_ERROR && message != nullptr &&
                std::string_view(message).starts_with("Excessive depth");
    return deep ? ParseEnd::too_deep : ParseEnd::whole;
}

// A tree of `bytes` made by `read` in the context `make` gives: nullptr
// past the budget or the member limit, and `end` says why a parse stopped
// short.
template <typename Make, typename Read>
static XmlDoc parse_counted(std::string_view bytes, ParseEnd *end, Make make, Read read)
{
    if (end != nullptr)
        *end = ParseEnd::whole;
    if (bytes.size() > member_limit)
        return nullptr;
    xmlParserCtxtPtr ctxt = make();
    if (ctxt == nullptr)
        return nullptr;
    Budget budget;
    ctxt->_private = &budget;
    XmlDoc doc = read(ctxt, static_cast<int>(bytes.size()));
    if (budget.reached) {
        xml_free(doc);
        doc = nullptr;
    }
    if (end != nullptr)
        *end = parse_end(ctxt, budget);
    xmlFreeParserCtxt(ctxt);
    return doc;
}

XmlDoc xml_parse(std::string_view bytes, ParseEnd *end, const char *encoding)
{
    return parse_counted(bytes, end, xmlNewParserCtxt, [&](xmlParserCtxtPtr ctxt, int size) {
        ctxt->sax->startElementNs = counted_element_ns;
        return xmlCtxtReadMemory(ctxt, bytes.data(), size, nullptr, encoding, xml_options);
    });
}

XmlDoc html_parse(std::string_view bytes, const char *encoding, ParseEnd *end)
{
    return parse_counted(bytes, end, htmlNewParserCtxt, [&](xmlParserCtxtPtr ctxt, int size) {
        ctxt->sax->startElement = counted_element;
        return htmlCtxtReadMemory(ctxt, bytes.data(), size, nullptr, encoding && *encoding ? encoding : nullptr,
                                  html_options);
    });
}

// ---------------------------------------------------------------- streams

static int read_source(void *context, char *buffer, int size)
{
    return (*static_cast<const XmlSource *>(context))(buffer, size);
}

static int close_source(void *)
{
    return 0;
}

StreamEnd xml_stream(const XmlSource &source, const std::function<XmlStep(XmlNode element, int depth)> &choose,
                     const std::function<bool(XmlNode element)> &take)
{
    xmlTextReaderPtr reader = xmlReaderForIO(read_source, close_source, const_cast<XmlSource *>(&source), nullptr,
                                             nullptr, xml_options);
    if (reader == nullptr)
        return StreamEnd::broken;
    bool stopped = false;
    int at = xmlTextReaderRead(reader);
    while (at == 1) {
        if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) {
            at = xmlTextReaderRead(reader);
            continue;
        }
        XmlStep step = choose(xmlTextReaderCurrentNode(reader), xmlTextReaderDepth(reader));
        if (step == XmlStep::enter) {
            at = xmlTextReaderRead(reader);
            continue;
        }
        if (step == XmlStep::take) {
            XmlNode whole = xmlTextReaderExpand(reader);
            if (whole == nullptr) {
                at = -1;
                break;
            }
            if (!take(whole)) {
                stopped = true;
                break;
            }
        }
        // Moving on lets the reader free what it has passed.
        at = xmlTextReaderNext(reader);
    }
    xmlFreeTextReader(reader);
    return stopped ? StreamEnd::stopped : at == 0 ? StreamEnd::whole : StreamEnd::broken;
}

void xml_free(XmlDoc doc)
{
    if (doc != nullptr)
        xmlFreeDoc(doc);
}

XmlNode xml_root(XmlDoc doc)
{
    return doc ? xmlDocGetRootElement(doc) : nullptr;
}

std::string xml_name(XmlNode node)
{
    if (node == nullptr || node->type != XML_ELEMENT_NODE || node->name == nullptr)
        return "";
    return reinterpret_cast<const char *>(node->name);
}

std::string xml_attr(XmlNode node, const char *local_name)
{
    if (node == nullptr || node->type != XML_ELEMENT_NODE)
        return "";
    for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
        if (attr->name == nullptr || xmlStrcmp(attr->name, BAD_CAST local_name) != 0)
            continue;
        std::string value;
        for (xmlNodePtr child = attr->children; child; child = child->next)
            if (child->content)
                value += reinterpret_cast<const char *>(child->content);
        return value;
    }
    return "";
}

// The first element among `node` and the siblings after it.
static XmlNode element_from(XmlNode node)
{
    for (; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE)
            return node;
    return nullptr;
}

XmlNode xml_first_element(XmlNode node)
{
    return node ? element_from(node->children) : nullptr;
}

XmlNode xml_next_element(XmlNode node)
{
    return node ? element_from(node->next) : nullptr;
}

bool append_html_entity(std::string &out, const char *name)
{
    const htmlEntityDesc *known = name ? htmlEntityLookup(BAD_CAST name) : nullptr;
    if (known != nullptr)
        append_utf8(out, known->value);
    return known != nullptr;
}

// An entity the document names but does not declare (&eacute; in XHTML)
// is looked up among HTML's; a declared one is never expanded.
static void append_entity(std::string &out, XmlNode node)
{
    append_html_entity(out, reinterpret_cast<const char *>(node->name));
}

std::string_view local_name(XmlNode element)
{
    if (element == nullptr || element->type != XML_ELEMENT_NODE || element->name == nullptr)
        return {};
    std::string_view name(reinterpret_cast<const char *>(element->name));
    size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool name_is(XmlNode element, std::string_view name)
{
    std::string_view local = local_name(element);
    if (local.size() != name.size())
        return false;
    for (size_t i = 0; i < name.size(); i++)
        if (std::tolower(static_cast<unsigned char>(local[i])) != std::tolower(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

XmlNode xml_child(XmlNode parent, const char *name)
{
    for (XmlNode child : xml_children(parent))
        if (xml_name(child) == name)
            return child;
    return nullptr;
}

XmlNode child_named(XmlNode parent, std::string_view name)
{
    for (XmlNode child : xml_children(parent))
        if (name_is(child, name))
            return child;
    return nullptr;
}

std::string attr_text(_xmlAttr *attr)
{
    std::string value;
    for (xmlNodePtr child = attr ? attr->children : nullptr; child; child = child->next)
        if (child->type == XML_TEXT_NODE && child->content)
            value += reinterpret_cast<const char *>(child->content);
    return value;
}

static xmlAttrPtr find_plain_attr(XmlNode element, const char *name)
{
    if (element == nullptr || element->type != XML_ELEMENT_NODE)
        return nullptr;
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next)
        if (attr->ns == nullptr && attr->name && xmlStrcmp(attr->name, BAD_CAST name) == 0)
            return attr;
    return nullptr;
}

std::string plain_attr(XmlNode element, const char *name)
{
    return attr_text(find_plain_attr(element, name));
}

bool has_plain_attr(XmlNode element, const char *name)
{
    return find_plain_attr(element, name) != nullptr;
}

std::string xml_text(XmlNode node)
{
    std::string out;
    if (node == nullptr)
        return out;
    // Iterative, so that no depth of nesting can exhaust the stack.
    XmlNode at = node->children;
    while (at != nullptr && at != node) {
        if (at->type == XML_TEXT_NODE || at->type == XML_CDATA_SECTION_NODE) {
            if (at->content)
                out += reinterpret_cast<const char *>(at->content);
        } else if (at->type == XML_ENTITY_REF_NODE) {
            append_entity(out, at);
        } else if (at->type == XML_ELEMENT_NODE && at->children) {
            at = at->children;
            continue;
        }
        while (at != node && at->next == nullptr)
            at = at->parent;
        if (at == node || at == nullptr)
            break;
        at = at->next;
    }
    return out;
}
