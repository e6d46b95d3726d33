// Every XML and HTML parse, with the safe options in one place (no
// network, no DTD, no entity substituted, an entity loader that refuses
// all), and the few tree helpers the readers share.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;
using XmlDoc = _xmlDoc *;
using XmlNode = _xmlNode *;

// Installs the refusing entity loader; main and every test call it first.
void xml_init();

// A tree costs some hundred bytes an element whatever the text, so that
// a parse stops at this many: a tree of more would not fit a reader's
// memory, and no honest page or part comes near.
constexpr size_t max_elements = 500000;
// How a parse ended: read whole, or stopped at the parser's depth (256
// levels) or at max_elements.
enum class ParseEnd { whole, too_deep, too_large };
// nullptr when the bytes are not well-formed enough to read, or hold more
// than max_elements elements; `encoding` overrides the one they declare.
XmlDoc xml_parse(std::string_view bytes, ParseEnd *end = nullptr, const char *encoding = nullptr);
// HTML in `encoding` ("" to let libxml2 look for a BOM or <meta charset>);
// what came before a stop at the depth, nullptr past max_elements.
XmlDoc html_parse(std::string_view bytes, const char *encoding, ParseEnd *end = nullptr);

// A large document read as a stream, with the same safe options, so that
// memory follows the part in hand rather than the whole. What the stream
// does with an element it reaches:
enum class XmlStep {
    enter, // go on into its content
    take,  // expand it whole, hand it over, then free it
    skip,  // pass over it and all it holds
};
// Bytes in order: at most `size` into `buffer`; 0 at the end, -1 on a failure.
using XmlSource = std::function<int(char *buffer, int size)>;
// How a stream ended: read to its end; broken off, the bytes not
// well-formed or failing; or stopped when `take` wanted no more.
enum class StreamEnd { whole, broken, stopped };
// Reads the XML of `source`: `choose(element, depth)` decides for each
// element reached (its name and attributes read, its content not yet);
// `take(element)` gets the elements chosen, expanded, and returns false
// to stop.
StreamEnd xml_stream(const XmlSource &source, const std::function<XmlStep(XmlNode element, int depth)> &choose,
                     const std::function<bool(XmlNode element)> &take);
void xml_free(XmlDoc doc);
// A parsed document freed when it goes out of scope.
struct XmlFree {
    void operator()(XmlDoc doc) const { xml_free(doc); }
};
using XmlDocPtr = std::unique_ptr<_xmlDoc, XmlFree>;

XmlNode xml_root(XmlDoc doc);
// An element's name as the parser keeps it, or "".
std::string xml_name(XmlNode node);
// An element's name without its prefix (HTML's parser keeps "epub:switch").
std::string_view local_name(XmlNode element);
// Whether the element's local name is `name`, in any case (the HTML
// parser lowers "FictionBook").
bool name_is(XmlNode element, std::string_view name);
// The first element child named exactly `name`, and in any case.
XmlNode xml_child(XmlNode parent, const char *name);
XmlNode child_named(XmlNode parent, std::string_view name);
// An attribute by local name in any namespace, "" when absent.
std::string xml_attr(XmlNode node, const char *local_name);
// Only the literal text of an attribute's value: a declared entity is
// never expanded.
struct _xmlAttr;
std::string attr_text(_xmlAttr *attr);
// An attribute in no namespace ("" when absent), and whether it is there.
std::string plain_attr(XmlNode element, const char *name);
bool has_plain_attr(XmlNode element, const char *name);
XmlNode xml_first_element(XmlNode node);
XmlNode xml_next_element(XmlNode node);
// The element children of `node`, in order: for (XmlNode child : xml_children(node)).
struct XmlChildren {
    XmlNode first;
    struct Step {
        XmlNode at;
        XmlNode operator*() const { return at; }
        Step &operator++()
        {
            at = xml_next_element(at);
            return *this;
        }
        bool operator!=(const Step &other) const { return at != other.at; }
    };
    Step begin() const { return {first}; }
    Step end() const { return {nullptr}; }
};
inline XmlChildren xml_children(XmlNode node)
{
    return {xml_first_element(node)};
}
// All the text within, an undeclared entity (&eacute;) as HTML's.
std::string xml_text(XmlNode node);
// The character HTML names `name` ("eacute") appended as UTF-8; false
// when HTML has none of that name.
bool append_html_entity(std::string &out, const char *name);
