// Every XML and HTML parse, with the safe options in one place.
#include "convert/convert.h"

void xml_init() {}
XmlDoc xml_parse(std::string_view) { return nullptr; }
XmlDoc html_parse(std::string_view, const char *) { return nullptr; }
void xml_free(XmlDoc) {}
XmlNode xml_root(XmlDoc) { return nullptr; }
std::string xml_name(XmlNode) { return ""; }
std::string xml_attr(XmlNode, const char *) { return ""; }
XmlNode xml_first_element(XmlNode) { return nullptr; }
XmlNode xml_next_element(XmlNode) { return nullptr; }
std::string xml_text(XmlNode) { return ""; }
