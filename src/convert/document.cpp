// One file's bytes to the text to print.
#include "convert/convert.h"

bool convert_document(const Input &in, const OutputCharset &out, std::string &text)
{
    text.clear();
    const Format *format = format_for(detect_kind(in.bytes, in.name));
    if (format == nullptr || format->read == nullptr)
        return false;
    Document doc;
    if (!format->read(in, doc))
        return false;
    text = to_output_charset(doc.notice.empty() ? layout_text(doc) : doc.notice + "\n", out);
    return !text.empty();
}
