// One file's bytes to the text to print. Also the fuzz target's entry:
// any bytes in, bounded work, text out.
#include "convert/convert.h"

// A notice is one line, whatever the reader put in it.
static std::string notice_line(const std::string &notice)
{
    Document doc;
    doc.blocks.emplace_back();
    doc.blocks.back().text = notice;
    return layout_text(doc);
}

bool convert_document(const Input &in, const OutputCharset &out, std::string &text)
{
    static const bool xml_ready = (xml_init(), true); // the entity loader before any parse
    (void)xml_ready;
    text.clear();
    if (in.bytes.empty())
        return false;
    Kind kind = detect_kind(in.bytes, in.name);
    const Format *format = format_for(kind);
    if (format == nullptr || format->read == nullptr)
        return false;
    if (kind == Kind::text) {
        // The fast path: a text already fit to show is copied by the caller.
        bool ascii = false;
        if (text_fit_as_is(in.bytes, ascii)) {
            if (out.utf8 || ascii)
                return false;
            text = to_output_charset(in.bytes, out);
            return !text.empty();
        }
    }
    Document doc;
    if (!format->read(in, doc))
        return false;
    std::string laid_out = doc.notice.empty() ? layout_text(doc) : notice_line(doc.notice);
    // A parser may pass on bytes of a file that lied about its encoding.
    if (!valid_utf8(laid_out))
        laid_out = to_utf8(laid_out, "UTF-8");
    text = to_output_charset(laid_out, out);
    return !text.empty();
}
