// Every XML and HTML parse, with the safe options in one place (no
// network, no DTD, no entity substituted, an entity loader that refuses
// all), and the few tree helpers the readers share.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;
using XmlDoc = _xmlDoc *;
using XmlNode = _xmlNode *;

// Installs the refusing entity loader; main and every test call it first.
void xml_init();
// nullptr when the bytes are not well-formed enough to read; `encoding`
// overrides the one the bytes declare.
XmlDoc xml_parse(std::string_view bytes, const char *encoding = nullptr);
// HTML in `encoding` ("" to let libxml2 look for a BOM or <meta charset>).
XmlDoc html_parse(std::string_view bytes, const char *encoding);
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
