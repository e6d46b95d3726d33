// Plain text in any encoding: one preformatted block of UTF-8 with LF
// line ends.
#include <string>
#include <utility>

#include "convert/charset.h"
#include "convert/document.h"
#include "convert/readers.h"

// CR LF and a lone CR as LF; a U+0000 (from UTF-16, or a stray NUL) dropped.
static std::string with_lf_ends(std::string text)
{
    size_t at = text.find_first_of(std::string_view("\r\0", 2));
    if (at == std::string::npos)
        return text;
    size_t to = at;
    for (; at < text.size(); at++) {
        char c = text[at];
        if (c == '\r') {
            text[to++] = '\n';
            if (at + 1 < text.size() && text[at + 1] == '\n')
                at++;
        } else if (c != '\0') {
            text[to++] = c;
        }
    }
    text.resize(to);
    return text;
}

ReadResult read_text(const Input &in, Document &doc)
{
    if (!looks_like_text(in.bytes))
        return ReadResult::not_this_format;
    Block block;
    block.kind = BlockKind::preformatted;
    block.text = with_lf_ends(to_utf8(in.bytes, detect_charset(in.bytes)));
    doc.blocks.push_back(std::move(block));
    return ReadResult::read;
}
