// HTML and XHTML pages: the XML parser, else the HTML one, then the walk.
#include <string>
#include <string_view>

#include "convert/html/html.h"
#include "convert/readers.h"
#include "convert/xml.h"

bool html_bytes_walk(std::string_view bytes, Notes &notes, Document &doc)
{
    XmlDocPtr parsed(markup_parse(bytes, true));
    if (parsed == nullptr)
        return false;
    walk_blocks(reinterpret_cast<XmlNode>(parsed.get()), html_grammar, notes, doc);
    return true;
}

bool html_bytes_blocks(std::string_view bytes, Document &doc)
{
    Notes notes;
    return html_bytes_walk(bytes, notes, doc);
}

ReadResult read_html(const Input &in, Document &doc)
{
    return html_bytes_blocks(in.bytes, doc) ? ReadResult::read : ReadResult::not_this_format;
}

