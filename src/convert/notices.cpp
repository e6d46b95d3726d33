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
    const char *words; // NAME, WHAT and PACKAGE stand for what the notice names
};

const Wording wordings[] = {
    {NoticeKind::needs, "NAME needs WHAT (Debian package PACKAGE)"},
    {NoticeKind::no_text, "no text in NAME (WHAT)"},
    {NoticeKind::no_text_layer, "NAME has no text layer"},
    {NoticeKind::drm, "NAME is protected by DRM: its text cannot be shown"},
    {NoticeKind::encrypted, "NAME is encrypted"},
};

} // namespace

std::string notice_text(NoticeKind kind, const std::string &name, const char *what, const char *package)
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
        } else if (words.starts_with("PACKAGE")) {
            out += package;
            words.remove_prefix(7);
        } else {
            out += words.front();
            words.remove_prefix(1);
        }
    }
    return out;
}

ReadResult notice(Document &doc, NoticeKind kind, const std::string &name, const char *what, const char *package)
{
    doc.notice = notice_text(kind, name, what, package);
    return ReadResult::notice;
}
