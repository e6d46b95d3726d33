// HTML and XHTML pages: the XML parser, else the HTML one, then the walk.
#include <string>
#include <string_view>

#include "convert/html/html.h"
#include "convert/notices.h"
#include "convert/readers.h"
#include "convert/xml.h"

bool html_bytes_walk(std::string_view bytes, Notes &notes, Document &doc, bool *too_large)
{
    XmlDocPtr parsed(markup_parse(bytes, true, too_large));
    if (parsed == nullptr)
        return false;
    walk_blocks(reinterpret_cast<XmlNode>(parsed.get()), html_grammar, notes, doc);
    return true;
}

bool html_bytes_blocks(std::string_view bytes, Document &doc, bool *too_large)
{
    Notes notes;
    return html_bytes_walk(bytes, notes, doc, too_large);
}

ReadResult book_stopped(Document &doc, const Input &in, const char *type, const std::string &place)
{
    if (!document_has_blocks(doc))
        return notice(doc, NoticeKind::unreadable, in.name, type, too_much_markup);
    document_stop(doc, in.name, type, place, too_much_markup);
    return ReadResult::read;
}

ReadResult read_html(const Input &in, Document &doc)
{
    bool too_large = false;
    if (html_bytes_blocks(in.bytes, doc, &too_large))
        return ReadResult::read;
    return too_large ? notice(doc, NoticeKind::unreadable, in.name, "HTML", too_much_markup)
                     : ReadResult::not_this_format;
}

