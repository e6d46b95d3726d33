// Notices: the line shown instead of a document's text, when it has none
// to show. Every reader's notice is worded here.
#include <cstddef>
#include <string>
#include <string_view>

#include "convert/document.h"
#include "convert/notices.h"

namespace {

struct Wording {
    NoticeKind kind;
    const char *words; // NAME, WHAT, DETAIL and PLACE stand for what the notice names
};

const Wording wordings[] = {
    {NoticeKind::needs, "NAME needs WHAT (Debian package DETAIL)"},
    {NoticeKind::no_text, "no text in NAME (WHAT)"},
    {NoticeKind::no_text_layer, "NAME has no text layer"},
    {NoticeKind::drm, "NAME is protected by DRM: its text cannot be shown"},
    {NoticeKind::encrypted, "NAME is encrypted"},
    {NoticeKind::unreadable, "NAME could not be read (WHAT): DETAIL"},
    {NoticeKind::cut_short, "NAME could not be read past PLACE (WHAT): DETAIL"},
};

} // namespace

const char *const too_much_markup = "it holds too much markup for its text";

std::string notice_text(NoticeKind kind, const std::string &name, const char *what, const char *detail,
                        const std::string &place)
{
    std::string_view words;
    for (const Wording &w : wordings)
        if (w.kind == kind)
            words = w.words;
    std::string out;
    while (!words.empty()) {
        if (words.starts_with("NAME")) {
            out += name;
            words.remove_prefix(4);
        } else if (words.starts_with("WHAT")) {
            out += what;
            words.remove_prefix(4);
        } else if (words.starts_with("DETAIL")) {
            out += detail;
            words.remove_prefix(6);
        } else if (words.starts_with("PLACE")) {
            out += place;
            words.remove_prefix(5);
        } else {
            out += words.front();
            words.remove_prefix(1);
        }
    }
    return out;
}

ReadResult notice(Document &doc, NoticeKind kind, const std::string &name, const char *what, const char *detail)
{
    doc.notice = notice_text(kind, name, what, detail);
    return ReadResult::notice;
}

void document_stop(Document &doc, const std::string &name, const char *type, const std::string &place,
                   const char *reason)
{
    Block line;
    line.text = notice_text(NoticeKind::cut_short, name, type, reason, place);
    doc.blocks.push_back(std::move(line));
}
