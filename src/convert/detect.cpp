// The kind of a file: from its content first, then from its name. Only
// the head of the file is looked at (and a zip's directory), however
// large it is.
#include <algorithm>
#include <cstring>

#include "convert/charset.h"
#include "convert/formats.h"
#include "convert/text.h"
#include "convert/zip.h"

static constexpr size_t head_size = 64 * 1024;
// How far into a text its format's mark may sit when the name names it.
static constexpr size_t loose_mark_reach = 1024;

static std::string_view head_of(std::string_view bytes, size_t size = head_size)
{
    return bytes.substr(0, std::min(bytes.size(), size));
}

static bool starts_with(std::string_view bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

static bool starts_with_ignoring_case(std::string_view bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size() && equal_ignoring_case(bytes.substr(0, prefix.size()), prefix);
}

// ---------------------------------------------------------------- magic

static bool holds_at(std::string_view bytes, std::string_view mark, size_t at)
{
    return !mark.empty() && bytes.size() >= at && bytes.size() - at >= mark.size() &&
           bytes.compare(at, mark.size(), mark) == 0;
}

static bool has_magic(const Format &f, std::string_view bytes)
{
    return holds_at(bytes, f.magic, f.magic_at) || holds_at(bytes, f.other_magic, f.other_magic_at);
}

// ---------------------------------------------------------------- zip

static std::string trimmed(std::string_view text)
{
    const char *space = " \t\r\n";
    size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return "";
    size_t last = text.find_last_not_of(space);
    return std::string(text.substr(first, last - first + 1));
}

static bool has_zip_mark(ZipArchive *zip, const char *mark, bool &mimetype_read, std::string &mimetype)
{
    static constexpr std::string_view prefix = "mimetype=";
    std::string_view wanted(mark);
    if (!starts_with(wanted, prefix))
        return zip_has(zip, mark);
    if (!mimetype_read) {
        std::string content;
        zip_read(zip, "mimetype", content);
        mimetype = trimmed(content);
        mimetype_read = true;
    }
    return mimetype == wanted.substr(prefix.size());
}

// The kind whose zip mark the archive bears, or Kind::unknown.
static Kind kind_of_zip(std::string_view bytes)
{
    ZipPtr zip(zip_open_bytes(bytes));
    if (!zip)
        return Kind::unknown;
    bool mimetype_read = false;
    std::string mimetype;
    for (const Format &f : formats())
        if (f.zip_mark != nullptr && has_zip_mark(zip.get(), f.zip_mark, mimetype_read, mimetype))
            return f.kind;
    return Kind::unknown;
}

// ---------------------------------------------------------------- XML and HTML

static bool is_utf16_or_32(std::string_view bytes)
{
    std::string bom = bom_charset(bytes);
    return (!bom.empty() && bom != "UTF-8") || !utf16_without_bom(bytes).empty() || !utf32_without_bom(bytes).empty();
}

// The head as UTF-8 enough to find markup in: UTF-16 decoded, else as it is.
static std::string markup_head(std::string_view bytes)
{
    std::string_view head = head_of(bytes, 16 * 1024);
    if (is_utf16_or_32(head))
        return to_utf8(head, detect_charset(head));
    return std::string(head);
}

static size_t skip_space(std::string_view text, size_t at)
{
    while (at < text.size() && ascii_space(text[at]))
        at++;
    return at;
}

// Past the ">" that closes a doctype, over quoted text and an internal subset.
static size_t past_doctype(std::string_view text, size_t at)
{
    char quote = 0;
    int depth = 0;
    for (; at < text.size(); at++) {
        char c = text[at];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[') {
            depth++;
        } else if (c == ']') {
            depth--;
        } else if (c == '>' && depth <= 0) {
            return at + 1;
        }
    }
    return std::string_view::npos;
}

static size_t name_end(std::string_view text, size_t at)
{
    while (at < text.size() && !ascii_space(text[at]) && text[at] != '>' && text[at] != '/' && text[at] != '[')
        at++;
    return at;
}

// The local name of the first element, past the XML declaration, comments,
// processing instructions and the doctype ("html" for an HTML doctype);
// "" when the text does not start with markup.
static std::string first_element(std::string_view text)
{
    size_t at = bom_charset(text) == "UTF-8" ? 3 : 0;
    while (at != std::string_view::npos) {
        at = skip_space(text, at);
        std::string_view rest = text.substr(std::min(at, text.size()));
        if (rest.empty() || rest[0] != '<')
            return "";
        if (starts_with(rest, "<?")) {
            at = text.find("?>", at);
            at = at == std::string_view::npos ? at : at + 2;
        } else if (starts_with(rest, "<!--")) {
            at = text.find("-->", at + 4);
            at = at == std::string_view::npos ? at : at + 3;
        } else if (starts_with_ignoring_case(rest, "<!DOCTYPE")) {
            size_t name = skip_space(text, at + 9);
            if (equal_ignoring_case(text.substr(name, name_end(text, name) - name), "html"))
                return "html";
            at = past_doctype(text, name);
        } else {
            size_t end = name_end(text, at + 1);
            std::string_view name = text.substr(at + 1, end - at - 1);
            size_t colon = name.rfind(':');
            return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
        }
    }
    return "";
}

static bool root_matches(const Format &f, const std::string &root)
{
    if (f.xml_root == nullptr || root.empty())
        return false;
    return f.kind == Kind::html ? equal_ignoring_case(root, f.xml_root) : root == f.xml_root;
}

// True when the text holds a tag anywhere: "<" and a letter, "!", "?" or "/".
static bool holds_markup(std::string_view text)
{
    for (size_t at = text.find('<'); at != std::string_view::npos && at + 1 < text.size();
         at = text.find('<', at + 1)) {
        char c = text[at + 1];
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '!' || c == '?' || c == '/')
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- name

static std::string suffix_of(const std::string &name)
{
    size_t slash = name.rfind('/');
    std::string_view base = slash == std::string::npos ? std::string_view(name) : std::string_view(name).substr(slash + 1);
    size_t dot = base.rfind('.');
    return dot == std::string_view::npos ? "" : ascii_lower(base.substr(dot + 1));
}

static bool goes_by(const Format &f, const std::string &suffix)
{
    for (std::string_view name : format_suffixes(f))
        if (name == suffix)
            return true;
    return false;
}

// A text named like a format is that format only when it looks the part:
// its mark near the start, or markup for a format known by its root.
static bool text_fits_loosely(const Format &f, std::string_view bytes, const std::string &markup)
{
    if (!f.magic.empty()) {
        std::string_view near = head_of(bytes, f.magic_at + loose_mark_reach);
        return near.find(f.magic) != std::string_view::npos;
    }
    return f.xml_root != nullptr && holds_markup(markup);
}

// ---------------------------------------------------------------- the kind

Kind detect_kind(std::string_view bytes, const std::string &name)
{
    if (bytes.empty())
        return Kind::text;
    for (const Format &f : formats())
        if (has_magic(f, bytes))
            return f.kind;

    std::string suffix = suffix_of(name);
    if (starts_with(bytes, "PK\3\4")) {
        Kind kind = kind_of_zip(bytes);
        if (kind != Kind::unknown)
            return kind;
        // A zip without the marks (its producer forgot them) goes by its name.
        for (const Format &f : formats())
            if (f.zip_mark != nullptr && goes_by(f, suffix))
                return f.kind;
        return Kind::binary;
    }

    bool text = looks_like_text(bytes);
    std::string markup = text ? markup_head(bytes) : std::string();
    std::string root = first_element(markup);
    for (const Format &f : formats())
        if (root_matches(f, root))
            return f.kind;

    for (const Format &f : formats()) {
        if (f.kind == Kind::text || !goes_by(f, suffix))
            continue;
        // A plain text named like a book is shown as the text it is; a
        // format written as text is never bytes that are not.
        if (f.text_by_name ? text : !text || text_fits_loosely(f, bytes, markup))
            return f.kind;
    }
    return text ? Kind::text : Kind::binary;
}
