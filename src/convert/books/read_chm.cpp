// CHM help books through libchm: the pages its table of contents (the
// .hhc sitemap) names, in that order, then the pages it does not name, in
// the order of the book's directory, each once, through the HTML walk,
// with the book's notes shared across its pages.
//
// libchm follows the directory's block links wherever they point, so a
// hostile book could make it loop: the chain is walked here first, and a
// book whose chain comes back on itself is damaged. It trusts the lengths
// it reads: like every reader it runs in a confined child under the time
// limit, and takes 64 MiB a member, 256 MiB in all.
#include <algorithm>
#include <cstdint>
#include <chm_lib.h>
#include <cstring>
#include <set>
#include <unordered_map>

#include "convert/books/books.h"
#include "convert/html/html.h"
#include "convert/notices.h"
#include "convert/process.h"
#include "convert/text.h"
#include "convert/zip.h"

using namespace std::string_view_literals;

namespace {

constexpr size_t max_entries = 200000; // directory entries looked at

bool has_suffix(std::string_view path, std::string_view suffix)
{
    return path.size() >= suffix.size() && ascii_lower(path.substr(path.size() - suffix.size())) == suffix;
}

bool is_toc(std::string_view path)
{
    return has_suffix(path, ".hhc");
}

bool is_page(std::string_view path)
{
    return has_suffix(path, ".htm") || has_suffix(path, ".html") || has_suffix(path, ".xhtml") || is_toc(path);
}

// ---- the directory's chain of listing blocks

uint64_t le_at(std::string_view bytes, size_t at, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// Whether the listing blocks libchm walks, from the first one by their
// "next" links, end; true too for headers too short to tell, which libchm
// refuses itself.
bool chm_chain_ends(std::string_view bytes)
{
    constexpr size_t itsf_dir_offset = 0x48, itsp_size = 0x54;
    if (bytes.size() < itsf_dir_offset + 8)
        return true;
    uint64_t dir = le_at(bytes, itsf_dir_offset, 8);
    if (dir > bytes.size() || bytes.size() - dir < itsp_size)
        return true;
    uint64_t header_len = le_at(bytes, dir + 8, 4), block_len = le_at(bytes, dir + 0x10, 4);
    uint64_t blocks = le_at(bytes, dir + 0x28, 4);
    auto block = static_cast<int32_t>(le_at(bytes, dir + 0x20, 4));
    if (block_len < 0x14)
        return true;
    std::set<int32_t> seen;
    while (block != -1) {
        uint64_t at = dir + header_len + static_cast<uint64_t>(block) * block_len;
        if (block < 0 || at + 0x14 > bytes.size() || at < dir)
            return true; // libchm stops where it cannot read
        if (!seen.insert(block).second || seen.size() > blocks)
            return false;
        block = static_cast<int32_t>(le_at(bytes, at + 0x10, 4));
    }
    return true;
}

// ---- libchm's reads: the pages and sitemaps, each a member

struct Member {
    std::string path;
    std::string data;
};

struct Members {
    std::vector<Member> read;
    size_t entries = 0, total = 0;
};

int take_member(struct chmFile *chm, struct chmUnitInfo *unit, void *context)
{
    Members &members = *static_cast<Members *>(context);
    if (++members.entries > max_entries)
        return CHM_ENUMERATOR_SUCCESS;
    if (!is_page(unit->path) || unit->length > member_limit || members.total + unit->length > archive_limit)
        return CHM_ENUMERATOR_CONTINUE;
    Member m{std::string(unit->path, strnlen(unit->path, CHM_MAX_PATHLEN)),
             std::string(static_cast<size_t>(unit->length), '\0')};
    LONGINT64 got = m.data.empty() ? 0
                                   : chm_retrieve_object(chm, unit, reinterpret_cast<unsigned char *>(m.data.data()),
                                                         0, static_cast<LONGINT64>(m.data.size()));
    m.data.resize(got > 0 ? static_cast<size_t>(got) : 0);
    members.total += m.data.size();
    members.read.push_back(std::move(m));
    return CHM_ENUMERATOR_CONTINUE;
}

// libchm opens a book only by name: the file's own, or a copy of the bytes.
std::vector<Member> read_members(const Input &in)
{
    InputFile file;
    if (in.path == nullptr && !input_file_make(in, file))
        return {};
    Members members;
    if (struct chmFile *chm = chm_open(in.path ? in.path : file.path.c_str())) {
        chm_enumerate(chm, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, take_member, &members);
        chm_close(chm);
    }
    input_file_remove(file);
    return std::move(members.read);
}

// A "Local" value as a member path: "ms-its:book.chm::/a.htm" and
// "mk:@MSITStore:book.chm::/a.htm" name the member after "::"; anchors and
// queries are dropped, %XX decoded, backslashes made slashes, the path
// made absolute from the sitemap's directory, "." and ".." resolved. A
// web address gives "".
std::string member_path(std::string_view value, const std::string &dir)
{
    value = value.substr(0, value.find_first_of("#?"));
    size_t store = value.find("::");
    if (store != std::string_view::npos) {
        value.remove_prefix(store + 2);
    } else {
        size_t colon = value.find(':');
        if (colon != std::string_view::npos && value.find('/') > colon)
            return ""; // http:, mailto:, javascript:
    }
    std::string slashed(value);
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    std::string decoded = percent_decoded(slashed);
    if (decoded.empty())
        return "";
    if (decoded[0] != '/')
        decoded = dir + decoded;
    std::string path = path_resolved(decoded);
    return path.empty() ? "" : "/" + path;
}

std::string directory_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "/" : path.substr(0, slash + 1);
}

} // namespace

std::vector<std::string> chm_toc_paths(std::string_view hhc, const std::string &hhc_dir)
{
    std::vector<std::string> paths;
    // Decoded as the pages are, in the set it declares or seems to be in,
    // so that no code page turns the backslashes of its paths into yen signs.
    XmlDoc toc = markup_parse(hhc, false);
    std::set<std::string> seen;
    // Depth first, in document order, without recursion: a sitemap may
    // nest its lists as deep as it likes.
    std::vector<XmlNode> stack;
    if (XmlNode root = xml_root(toc))
        stack.push_back(root);
    while (!stack.empty()) {
        XmlNode node = stack.back();
        stack.pop_back();
        if (ascii_lower(xml_name(node)) == "param" && ascii_lower(xml_attr(node, "name")) == "local") {
            std::string path = member_path(xml_attr(node, "value"), hhc_dir);
            if (!path.empty() && seen.insert(ascii_lower(path)).second)
                paths.push_back(path);
        }
        size_t first_child = stack.size();
        for (XmlNode child : xml_children(node))
            stack.push_back(child);
        std::reverse(stack.begin() + static_cast<long>(first_child), stack.end());
    }
    xml_free(toc);
    return paths;
}

bool chm_pages(const Input &in, std::vector<std::string> &pages, std::string &notice)
{
    pages.clear();
    notice.clear();
    if (!in.bytes.starts_with("ITSF"sv))
        return false;
    if (!chm_chain_ends(in.bytes)) {
        notice = notice_text(NoticeKind::unreadable, in.name, "CHM", "it is damaged");
        return true;
    }
    std::vector<Member> members = read_members(in);

    // The sitemap nearest the top is the book's table of contents.
    const Member *toc = nullptr;
    for (const Member &m : members)
        if (is_toc(m.path) && (toc == nullptr || std::count(m.path.begin(), m.path.end(), '/') <
                                                     std::count(toc->path.begin(), toc->path.end(), '/')))
            toc = &m;
    // libchm finds members by name without regard to case; so do links.
    std::unordered_map<std::string, size_t> by_path;
    for (size_t i = 0; i < members.size(); ++i)
        by_path.emplace(ascii_lower(members[i].path), i);
    std::vector<bool> taken(members.size(), false);
    if (toc != nullptr)
        for (const std::string &path : chm_toc_paths(toc->data, directory_of(toc->path))) {
            auto found = by_path.find(ascii_lower(path));
            if (found != by_path.end() && !taken[found->second] && !is_toc(path)) {
                taken[found->second] = true;
                pages.push_back(std::move(members[found->second].data));
            }
        }
    for (size_t i = 0; i < members.size(); ++i)
        if (!taken[i] && !is_toc(members[i].path))
            pages.push_back(std::move(members[i].data));
    if (pages.empty())
        notice = notice_text(NoticeKind::no_text, in.name, "CHM");
    return true;
}

ReadResult read_chm(const Input &in, Document &doc)
{
    std::vector<std::string> pages;
    if (!chm_pages(in, pages, doc.notice))
        return ReadResult::not_this_format;
    if (!doc.notice.empty())
        return ReadResult::notice;
    Notes notes; // a note's text may stand on another page than its marker
    for (size_t k = 0; k < pages.size(); k++) {
        bool too_large = false;
        html_bytes_walk(pages[k], notes, doc, &too_large);
        if (too_large)
            return book_stopped(doc, in, "CHM", "page " + std::to_string(k));
        document_flush(doc, "page " + std::to_string(k + 1));
    }
    if (!document_has_blocks(doc))
        return notice(doc, NoticeKind::no_text, in.name, "CHM");
    return ReadResult::read;
}
