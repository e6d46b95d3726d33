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
    const char *words; // NAME, WHAT and DETAIL stand for what the notice names
};

const Wording wordings[] = {
    {NoticeKind::needs, "NAME needs WHAT (Debian package DETAIL)"},
    {NoticeKind::no_text, "no text in NAME (WHAT)"},
    {NoticeKind::no_text_layer, "NAME has no text layer"},
    {NoticeKind::drm, "NAME is protected by DRM: its text cannot be shown"},
    {NoticeKind::encrypted, "NAME is encrypted"},
    {NoticeKind::unreadable, "NAME could not be read (WHAT): DETAIL"},
};

} // namespace

std::string notice_text(NoticeKind kind, const std::string &name, const char *what, const char *detail)
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
