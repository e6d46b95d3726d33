// Plain text in any encoding: one preformatted block of UTF-8 with LF
// line ends.
#include <cstring>
#include <utility>

#include "convert/convert.h"

static bool holds(std::string_view bytes, char byte)
{
    return !bytes.empty() && std::memchr(bytes.data(), byte, bytes.size()) != nullptr;
}

static bool all_ascii(std::string_view bytes)
{
    return ascii_run_end(bytes, 0) == bytes.size();
}

bool text_fit_as_is(std::string_view bytes, bool &ascii)
{
    ascii = false;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF" || holds(bytes, '\r') || holds(bytes, '\0') || !valid_utf8(bytes))
        return false;
    ascii = all_ascii(bytes);
    // ISO-2022-JP and its kin are 7-bit too.
    return !ascii || !holds(bytes, '\x1b') || detect_charset(bytes) == "UTF-8";
}

// CR LF and a lone CR as LF; a U+0000 (from UTF-16) dropped.
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

bool read_text(const Input &in, Document &doc)
{
    std::string charset = detect_charset(in.bytes);
    // NUL bytes belong to no text but one in UTF-16 or UTF-32.
    if (charset.rfind("UTF-16", 0) != 0 && charset.rfind("UTF-32", 0) != 0 && holds(in.bytes, '\0'))
        return false;
    Block block;
    block.kind = BlockKind::preformatted;
    block.text = with_lf_ends(to_utf8(in.bytes, charset));
    doc.blocks.push_back(std::move(block));
    return true;
}
