// One file's bytes to the text to print. Also the fuzz target's entry:
// any bytes in, bounded work, text out.
#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/formats.h"
#include "convert/notices.h"
#include "convert/xml.h"

// The reader of the kind, and where its bytes turn out not to be its
// format, the text reader's, or a notice naming what they look like:
// never nothing at all.
static ReadResult read_as(const Format *format, const Input &in, Document &doc)
{
    ReadResult result = format->read(in, doc);
    if (result != ReadResult::not_this_format)
        return result;
    doc = Document{};
    if (read_text(in, doc) == ReadResult::read)
        return ReadResult::read;
    doc = Document{};
    const char *type = binary_type(in.bytes);
    return notice(doc, NoticeKind::no_text, in.name, type ? type : format->name);
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
    read_as(format, in, doc);
    std::string laid_out = layout_text(doc);
    // A parser may pass on bytes of a file that lied about its encoding.
    if (!valid_utf8(laid_out))
        laid_out = to_utf8(laid_out, "UTF-8");
    text = to_output_charset(laid_out, out);
    return !text.empty();
}
