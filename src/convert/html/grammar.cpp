// HTML's grammar: the role each element plays in the walk, by its name,
// and by the marks that EPUB, ARIA and the common producers give notes.
#include <libxml/tree.h>

#include <string>
#include <string_view>
#include <unordered_map>

#include "convert/html/html.h"
#include "convert/text.h"
#include "convert/xml.h"

// epub:type, which the XML parser files under its namespace and the HTML
// parser under its full name.
static std::string epub_type(XmlNode element)
{
    for (xmlAttrPtr attr = element->properties; attr; attr = attr->next) {
        if (attr->name == nullptr)
            continue;
        if (attr->ns == nullptr ? xmlStrcmp(attr->name, BAD_CAST "epub:type") == 0
                                : xmlStrcmp(attr->name, BAD_CAST "type") == 0 && attr->ns->prefix &&
                                      xmlStrcmp(attr->ns->prefix, BAD_CAST "epub") == 0)
            return attr_text(attr);
    }
    return "";
}

bool has_token(std::string_view list, std::string_view token)
{
    size_t at = 0;
    while (at < list.size()) {
        while (at < list.size() && ascii_space(list[at]))
            at++;
        size_t end = at;
        while (end < list.size() && !ascii_space(list[end]))
            end++;
        if (end > at && list.substr(at, end - at) == token)
            return true;
        at = end;
    }
    return false;
}

// href in any namespace: the XML parser files xlink:href under "href",
// the HTML parser under its full name.
static std::string href_of(XmlNode link)
{
    for (xmlAttrPtr attr = link->properties; attr; attr = attr->next) {
        std::string_view name = attr->name ? reinterpret_cast<const char *>(attr->name) : "";
        if (name == "href" || (name.size() > 5 && name.substr(name.size() - 5) == ":href"))
            return attr_text(attr);
    }
    return "";
}

static std::string fragment_of(std::string_view href)
{
    size_t hash = href.find('#');
    return hash == std::string_view::npos ? std::string() : std::string(href.substr(hash + 1));
}

std::string link_target(XmlNode link)
{
    return fragment_of(href_of(link));
}

std::string marker_label(std::string_view text)
{
    text = trim_blank(text);
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') || (text.front() == '{' && text.back() == '}') ||
                             (text.front() == '(' && text.back() == ')')))
        text = trim_blank(text.substr(1, text.size() - 2));
    return std::string(text);
}

// ---------------------------------------------------------------- HTML's grammar

static Role html_name_role(std::string_view name)
{
    static const std::unordered_map<std::string_view, Role> roles = {
        // Never text a reader reads: metadata, code, pictures, forms, media.
        {"head", Role::skip}, {"title", Role::skip}, {"script", Role::skip}, {"style", Role::skip},
        {"template", Role::skip}, {"noscript", Role::skip}, {"svg", Role::skip}, {"annotation", Role::skip},
        {"annotation-xml", Role::skip}, {"input", Role::skip}, {"select", Role::skip}, {"textarea", Role::skip},
        {"button", Role::skip}, {"option", Role::skip}, {"datalist", Role::skip}, {"iframe", Role::skip},
        {"object", Role::skip}, {"embed", Role::skip}, {"canvas", Role::skip}, {"audio", Role::skip},
        {"video", Role::skip}, {"map", Role::skip}, {"rp", Role::skip}, {"rt", Role::skip}, {"colgroup", Role::skip},

        {"html", Role::block}, {"body", Role::block}, {"address", Role::block}, {"article", Role::block},
        {"aside", Role::block}, {"center", Role::block}, {"details", Role::block}, {"dialog", Role::block},
        {"div", Role::block}, {"dl", Role::block}, {"dt", Role::block}, {"figure", Role::block},
        {"figcaption", Role::block}, {"footer", Role::block}, {"form", Role::block}, {"fieldset", Role::block},
        {"legend", Role::block}, {"header", Role::block}, {"hgroup", Role::block}, {"hr", Role::block},
        {"main", Role::block}, {"nav", Role::block}, {"p", Role::block}, {"section", Role::block},
        {"summary", Role::block}, {"caption", Role::block}, {"thead", Role::block}, {"tbody", Role::block},
        {"tfoot", Role::block}, {"search", Role::block},

        {"h1", Role::heading}, {"h2", Role::heading}, {"h3", Role::heading}, {"h4", Role::heading},
        {"h5", Role::heading}, {"h6", Role::heading},
        {"pre", Role::pre}, {"listing", Role::pre}, {"xmp", Role::pre}, {"plaintext", Role::pre},
        // A definition is set in under its term, as a quote is.
        {"blockquote", Role::quote}, {"dd", Role::quote},
        {"ul", Role::list}, {"ol", Role::list}, {"menu", Role::list}, {"dir", Role::list},
        {"li", Role::item},
        {"table", Role::table}, {"tr", Role::row}, {"td", Role::cell}, {"th", Role::cell},
        {"br", Role::line_break}, {"img", Role::picture},
    };
    auto found = roles.find(name);
    return found == roles.end() ? Role::text : found->second;
}

// A link that only leads from a note back to its marker ("↩").
static bool is_backlink(XmlNode link, const Notes &notes)
{
    std::string cls = plain_attr(link, "class");
    if (has_token(cls, "footnote-back") || has_token(cls, "footnote-backref") || has_token(cls, "backlink") ||
        plain_attr(link, "role") == "doc-backlink" || has_token(epub_type(link), "backlink"))
        return true;
    std::string target = fragment_of(plain_attr(link, "href"));
    if (!target.empty() && notes.ref_ids.count(target))
        return true;
    std::string text = xml_text(link);
    std::string_view shown = trim_blank(text);
    return shown == "\u21A9" || shown == "\u21A9\uFE0E" || shown == "\u21A9\uFE0F" || shown == "^";
}

static Role html_link_role(XmlNode link, const WalkContext &at)
{
    if (at.in_note && at.notes && is_backlink(link, *at.notes))
        return Role::skip;
    std::string cls = plain_attr(link, "class");
    if (has_token(cls, "footnote-ref") || has_token(cls, "footnoteRef") || has_token(cls, "noteref") ||
        has_token(cls, "footnote-reference") ||
        has_token(epub_type(link), "noteref") || plain_attr(link, "role") == "doc-noteref")
        return Role::noteref;
    return Role::text;
}

// A picture marked as decoration says nothing, whatever its alt text.
static bool is_decoration(XmlNode image)
{
    std::string role = plain_attr(image, "role");
    return role == "presentation" || role == "none" || plain_attr(image, "aria-hidden") == "true";
}

static Role html_role(XmlNode element, const WalkContext &at)
{
    std::string_view name = local_name(element);
    if (element->properties == nullptr)
        return name == "li" && at.in_notes && !at.in_note ? Role::note : html_name_role(name);
    if (has_plain_attr(element, "hidden"))
        return Role::skip;
    if (name == "a")
        return html_link_role(element, at);
    if (name == "img" && is_decoration(element))
        return Role::skip;
    if (!at.in_note) {
        std::string type = epub_type(element);
        std::string aria = plain_attr(element, "role");
        if (has_token(type, "footnote") || has_token(type, "endnote") || has_token(type, "rearnote") ||
            aria == "doc-footnote" || aria == "doc-endnote" || (name == "li" && at.in_notes))
            return Role::note;
        std::string cls = plain_attr(element, "class");
        if (has_token(type, "footnotes") || has_token(type, "endnotes") || has_token(type, "rearnotes") ||
            aria == "doc-endnotes" || aria == "doc-footnotes" || has_token(cls, "footnotes") ||
            has_token(cls, "endnotes"))
            return Role::notes;
    }
    return html_name_role(name);
}

const Grammar html_grammar = {html_role, nullptr};
