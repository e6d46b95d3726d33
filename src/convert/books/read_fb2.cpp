// FictionBook 2: the bodies in order, sections and their titles, epigraphs
// and citations as quotes, each stanza of a poem as rows of its own, and
// the notes body (<body name="notes">) as notes labelled by their titles.
// The description (metadata) and binaries (pictures) are never shown.
#include <unordered_map>

#include "convert/html/html.h"
#include "convert/notices.h"
#include "convert/readers.h"

static Role fb2_name_role(std::string_view name)
{
    static const std::unordered_map<std::string_view, Role> roles = {
        {"description", Role::skip}, {"binary", Role::skip}, {"stylesheet", Role::skip}, {"image", Role::picture},
        {"FictionBook", Role::block}, {"fictionbook", Role::block}, {"body", Role::block}, {"section", Role::block},
        {"p", Role::block}, {"text-author", Role::block}, {"date", Role::block}, {"empty-line", Role::block},
        {"poem", Role::block}, {"title", Role::heading}, {"subtitle", Role::heading},
        {"epigraph", Role::quote}, {"cite", Role::quote}, {"annotation", Role::quote},
        {"stanza", Role::verse}, {"v", Role::verse_line},
        {"table", Role::table}, {"tr", Role::row}, {"td", Role::cell}, {"th", Role::cell},
    };
    auto found = roles.find(name);
    return found == roles.end() ? Role::text : found->second;
}

static Role fb2_role(XmlNode element, const WalkContext &at)
{
    std::string_view name = local_name(element);
    if (name == "body") {
        std::string kind = plain_attr(element, "name");
        return kind == "notes" || kind == "comments" ? Role::notes : Role::block;
    }
    if (name == "section" && at.in_notes && !at.in_note && child_named(element, "section") == nullptr)
        return Role::note;
    if (name == "title" && at.in_note)
        return Role::skip; // it is the note's label
    if (name == "a")
        return plain_attr(element, "type") == "note" ? Role::noteref : Role::text;
    return fb2_name_role(name);
}

static std::string fb2_note_label(XmlNode note)
{
    XmlNode title = child_named(note, "title");
    return title ? marker_label(xml_text(title)) : "";
}

static const Grammar fb2_grammar = {fb2_role, fb2_note_label};

// The FictionBook element at the top, or one down (under the html element
// that the HTML parser may add).
static XmlNode fiction_book(XmlDoc parsed)
{
    XmlNode top = reinterpret_cast<XmlNode>(parsed);
    for (int level = 0; level < 2 && top; level++) {
        XmlNode found = child_named(top, "FictionBook");
        if (found)
            return found;
        top = xml_first_element(top);
    }
    return nullptr;
}

ReadResult read_fb2(const Input &in, Document &doc)
{
    // A book that is not well-formed (or nests past the XML parser's
    // depth) is read by the HTML parser, which keeps unknown elements.
    bool too_large = false;
    XmlDocPtr parsed(markup_parse(in.bytes, false, &too_large));
    if (too_large)
        return notice(doc, NoticeKind::unreadable, in.name, "FictionBook", too_much_markup);
    XmlNode root = fiction_book(parsed.get());
    if (root == nullptr)
        return ReadResult::not_this_format;
    Notes notes;
    walk_blocks(root, fb2_grammar, notes, doc);
    return ReadResult::read;
}
