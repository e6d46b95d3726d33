// The encoding an HTML page declares, its bytes made fit for libxml2's
// HTML parser (which reads only a BOM and <meta charset>), and the parse
// that tries XML first.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "convert/charset.h"
#include "convert/html/html.h"
#include "convert/text.h"
#include "convert/xml.h"

// ---------------------------------------------------------------- encodings

static bool starts_with_ci(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); i++)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// Where `needle` (lower case) first occurs in `text`, any case; npos.
// Its first letter (the "h" of "<html") is looked for in either case by
// memchr, each from where it was last found, so that a page of many
// megabytes, or of millions of "<", costs one pass.
static size_t find_ci(std::string_view text, std::string_view needle, size_t from = 0)
{
    size_t k = 0;
    while (k + 1 < needle.size() && !std::isalpha(static_cast<unsigned char>(needle[k])))
        k++;
    const char lower = needle[k], upper = static_cast<char>(std::toupper(static_cast<unsigned char>(lower)));
    size_t at_lower = text.find(lower, from + k);
    size_t at_upper = upper == lower ? std::string_view::npos : text.find(upper, from + k);
    while (true) {
        size_t at = std::min(at_lower, at_upper);
        if (at == std::string_view::npos)
            return at;
        if (starts_with_ci(text.substr(at - k), needle))
            return at - k;
        if (at == at_lower)
            at_lower = text.find(lower, at + 1);
        else
            at_upper = text.find(upper, at + 1);
    }
}

// The value after `name` in an attribute-like text: charset=x, encoding="x".
static std::string value_after(std::string_view text, std::string_view name)
{
    size_t at = find_ci(text, name);
    if (at == std::string_view::npos)
        return "";
    at += name.size();
    while (at < text.size() && ascii_space(text[at]))
        at++;
    if (at >= text.size() || text[at] != '=')
        return "";
    at++;
    while (at < text.size() && (ascii_space(text[at]) || text[at] == '"' || text[at] == '\''))
        at++;
    size_t end = at;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || (text[end] != '\0' && std::strchr("-_.:", text[end]))))
        end++;
    return std::string(text.substr(at, std::min<size_t>(end - at, 40)));
}

static std::string bom_encoding(std::string_view bytes)
{
    std::string bom = bom_charset(bytes);
    if (!bom.empty())
        return bom;
    // "<" and one more ASCII character as UTF-16 without a BOM.
    if (bytes.size() >= 4 && bytes[0] == '<' && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0)
        return "UTF-16LE";
    if (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == '<' && bytes[2] == 0 && bytes[3] != 0)
        return "UTF-16BE";
    return "";
}

static std::string meta_charset(std::string_view bytes)
{
    std::string_view head = bytes.substr(0, 65536);
    size_t body = find_ci(head, "<body");
    if (body != std::string_view::npos)
        head = head.substr(0, body);
    for (size_t at = find_ci(head, "<meta"); at != std::string_view::npos; at = find_ci(head, "<meta", at + 5)) {
        size_t close = head.find('>', at);
        std::string charset = value_after(head.substr(at, close == std::string_view::npos ? close : close - at), "charset");
        if (!charset.empty())
            return charset;
    }
    return "";
}

std::string declared_encoding(std::string_view bytes)
{
    std::string found = bom_encoding(bytes);
    if (!found.empty())
        return found;
    if (bytes.substr(0, 5) == "<?xml") {
        size_t close = bytes.find("?>");
        found = value_after(bytes.substr(0, std::min<size_t>(close, 512)), "encoding");
        if (!found.empty())
            return found;
    }
    return meta_charset(bytes);
}

static bool ascii_compatible(const std::string &encoding)
{
    for (const char *wide : {"utf-16", "utf16", "utf-32", "utf32", "ucs-2", "ucs2", "ucs-4", "ucs4", "utf-7", "utf7"})
        if (starts_with_ci(encoding, wide))
            return false;
    return true;
}

static bool utf8_name(const std::string &encoding)
{
    for (const char *name : {"utf-8", "utf8", "ascii", "us-ascii", "ansi_x3.4-1968"})
        if (encoding.size() == std::strlen(name) && starts_with_ci(encoding, name))
            return true;
    return false;
}

// An inline DTD: "<!DOCTYPE x [ ... ]>", whose "]>" the HTML parser shows.
static void drop_inline_dtd(std::string &text)
{
    size_t start = find_ci(text, "<!doctype");
    if (start == std::string::npos)
        return;
    size_t open = text.find_first_of("[>", start);
    if (open == std::string::npos || text[open] != '[')
        return;
    for (size_t close = text.find(']', open); close != std::string::npos; close = text.find(']', close + 1)) {
        size_t after = text.find_first_not_of(" \t\r\n", close + 1);
        if (after != std::string::npos && text[after] == '>') {
            text.erase(start, after + 1 - start);
            return;
        }
    }
    text.erase(start); // never closed: nothing after it is the page
}

std::string html_parser_input(std::string_view bytes, std::string &encoding)
{
    std::string text;
    if (encoding.empty()) {
        std::string guess = detect_charset(bytes);
        if (utf8_name(guess)) {
            text.assign(bytes);
        } else {
            text = to_utf8(bytes, guess.empty() ? "WINDOWS-1252" : guess);
        }
        encoding = "UTF-8";
    } else if (!ascii_compatible(encoding) || !equal_ignoring_case(widened_charset(encoding), encoding)) {
        // iconv reads what libxml2 would not: the wide sets, and the code
        // page that widens the one declared (Shift_JIS's 0x5C a backslash).
        text = to_utf8(bytes, encoding);
        encoding = "UTF-8";
    } else {
        text.assign(bytes);
    }
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    drop_inline_dtd(text);
    return text;
}

// ---------------------------------------------------------------- flat

// Elements whose content is no text of the page.
static bool unseen_element(std::string_view name)
{
    for (std::string_view unseen : {"head", "script", "style", "title", "template"})
        if (name == unseen)
            return true;
    return false;
}

// Elements that part paragraphs when the page is read flat.
static bool parting_element(std::string_view name)
{
    static const char *const parting[] = {"p",  "div", "br", "h1",    "h2",      "h3",     "h4",    "h5",
                                          "h6", "li",  "ul", "ol",    "dl",      "dt",     "dd",    "table",
                                          "tr", "td",  "th", "pre",   "section", "article", "header", "footer",
                                          "hr", "nav", "aside", "blockquote", "body", "figure", "address"};
    for (const char *part : parting)
        if (name == part)
            return true;
    return false;
}

// The end of the tag opened at `at` (past its ">"), quoted values skipped.
static size_t tag_end(std::string_view text, size_t at)
{
    for (char quote = 0; at < text.size(); at++) {
        char c = text[at];
        if (quote != 0)
            quote = c == quote ? 0 : quote;
        else if (c == '"' || c == '\'')
            quote = c;
        else if (c == '>')
            return at + 1;
    }
    return text.size();
}

// The element name of the tag at `open`, lower case, at most 15 letters
// and digits ("" for none); `closing` when it is an end tag.
static std::string_view tag_name(std::string_view text, size_t open, char (&name)[16], bool &closing)
{
    size_t at = open + 1;
    closing = at < text.size() && text[at] == '/';
    at += closing;
    size_t length = 0;
    for (; at < text.size() && length < sizeof name - 1 && std::isalnum(static_cast<unsigned char>(text[at])); at++)
        name[length++] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])));
    return std::string_view(name, length);
}

// A page nested past the parser's depth, flat: its text and entities as
// they are, each element that parts paragraphs one <p>, no other markup,
// so that its words are read without its structure. One pass, by memchr.
static std::string flattened_markup(std::string_view text)
{
    std::string out = "<html><body>";
    bool parted = true;
    size_t at = 0;
    while (at < text.size()) {
        size_t open = text.find('<', at);
        std::string_view run = text.substr(at, open == std::string_view::npos ? std::string_view::npos : open - at);
        if (!run.empty()) {
            out += run;
            parted = parted && trim_blank(run).empty();
        }
        if (open == std::string_view::npos)
            break;
        if (text.compare(open, 4, "<!--") == 0) {
            size_t close = text.find("-->", open + 4);
            at = close == std::string_view::npos ? text.size() : close + 3;
            continue;
        }
        char buffer[16];
        bool closing = false;
        std::string_view name = tag_name(text, open, buffer, closing);
        char after = open + 1 < text.size() ? text[open + 1] : ' ';
        if (name.empty() && after != '!' && after != '?' && !closing) {
            out += "&lt;"; // a "<" that opens no tag is text
            at = open + 1;
            continue;
        }
        at = tag_end(text, open);
        if (!closing && unseen_element(name)) {
            size_t close = find_ci(text, "</" + std::string(name), at);
            at = close == std::string_view::npos ? text.size() : tag_end(text, close);
        } else if (!parted && parting_element(name)) {
            out += "<p>";
            parted = true;
        }
    }
    return out;
}

XmlDoc markup_parse(std::string_view bytes, bool html_root, bool *too_large)
{
    // Well-formed XHTML reads right under the XML parser, which honours the
    // XML declaration; the rest (a literal "<year>" in a chapter) under the
    // HTML parser, told the encoding that it would not find itself.
    // A set declared whose wider code page is what producers write (and
    // whose backslash glibc's own name would make a yen sign) is read as
    // that one, by either parser.
    std::string encoding = declared_encoding(bytes);
    ParseEnd end = ParseEnd::whole;
    XmlDoc parsed = nullptr;
    if (!encoding.empty() && ascii_compatible(encoding) && !equal_ignoring_case(widened_charset(encoding), encoding))
        parsed = xml_parse(to_utf8(bytes, encoding), &end, "UTF-8");
    else
        parsed = xml_parse(bytes, &end);
    if (parsed != nullptr || end == ParseEnd::too_large) {
        if (too_large != nullptr)
            *too_large = end == ParseEnd::too_large;
        return parsed;
    }
    std::string text = html_parser_input(bytes, encoding);
    // Without a root of its own the parser nests each list that follows a
    // list at the top into the one before.
    if (html_root && find_ci(text, "<html") == std::string::npos)
        text.insert(0, "<html>");
    parsed = html_parse(text, encoding.c_str(), &end);
    // A page nested past the parser's depth keeps its words, read flat.
    if (html_root && end == ParseEnd::too_deep) {
        xml_free(parsed);
        parsed = html_parse(flattened_markup(text), encoding.c_str(), &end);
    }
    if (too_large != nullptr)
        *too_large = end == ParseEnd::too_large;
    return parsed;
}
