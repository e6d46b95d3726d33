// EPUB 2 and 3: the package named by META-INF/container.xml, its spine in
// order (the linear pages, then the others), each page once however often
// the spine names it, read by the HTML walk with the book's notes shared
// across pages. A member the spine names but the archive lacks costs one
// lookup; everything read counts against the archive's limits.
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "convert/html/html.h"
#include "convert/notices.h"
#include "convert/readers.h"
#include "convert/text.h"
#include "convert/zip.h"

namespace {

struct Item {
    std::string member; // the archive member it names
    std::string media_type;
    bool nav = false;   // the EPUB 3 navigation page
};

struct Page {
    std::string member;
    bool linear = true;
};

} // namespace

// The archive member that `href` names from a file in `folder` ("OEBPS/"):
// fragment dropped, percent-decoded, "." and ".." resolved; "" for a link
// out of the book.
static std::string member_of(std::string_view folder, std::string_view href)
{
    href = href.substr(0, href.find_first_of("#?"));
    size_t colon = href.find(':');
    if (href.empty() || (colon != std::string_view::npos && colon < href.find('/')))
        return "";
    std::string path = href.front() == '/' ? percent_decoded(href.substr(1))
                                           : std::string(folder) + percent_decoded(href);
    return path_resolved(path);
}

static std::string folder_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The package's path: container.xml's first rootfile, else where the usual
// producers put it.
static std::string package_path(ZipArchive *zip)
{
    std::string bytes;
    if (zip_read(zip, "META-INF/container.xml", bytes)) {
        XmlDoc container = markup_parse(bytes, false);
        XmlNode rootfiles = child_named(child_named(reinterpret_cast<XmlNode>(container), "container"), "rootfiles");
        std::string found;
        for (XmlNode file = xml_first_element(rootfiles); file && found.empty(); file = xml_next_element(file)) {
            std::string type = xml_attr(file, "media-type");
            if (local_name(file) == "rootfile" && (type.empty() || type == "application/oebps-package+xml"))
                found = xml_attr(file, "full-path");
        }
        xml_free(container);
        if (zip_has(zip, found))
            return found;
    }
    for (const char *usual : {"OEBPS/content.opf", "OPS/content.opf", "content.opf", "EPUB/package.opf",
                              "OEBPS/package.opf", "OPS/package.opf", "package.opf"})
        if (zip_has(zip, usual))
            return usual;
    return "";
}

// Members that META-INF/encryption.xml says are enciphered (DRM, or fonts).
static std::unordered_set<std::string> enciphered_members(ZipArchive *zip)
{
    std::unordered_set<std::string> members;
    std::string bytes;
    if (!zip_has(zip, "META-INF/encryption.xml") || !zip_read(zip, "META-INF/encryption.xml", bytes))
        return members;
    XmlDoc parsed = xml_parse(bytes);
    XmlNode root = xml_root(parsed);
    for (XmlNode data : xml_children(root)) {
        XmlNode reference = child_named(child_named(data, "cipherdata"), "cipherreference");
        std::string member = member_of("", xml_attr(reference, "URI"));
        if (!member.empty())
            members.insert(member);
    }
    xml_free(parsed);
    return members;
}

static bool readable_type(const std::string &type)
{
    return type.empty() || type.find("html") != std::string::npos || type == "text/x-oeb1-document" ||
           type == "application/xml" || type == "text/xml";
}

// The pages to show, in order: the spine's linear pages, then the others,
// each once. The navigation page shows only where the spine puts it among
// the linear ones: a table of contents after the book helps no reader.
static std::vector<std::string> reading_order(XmlNode package, const std::string &folder)
{
    std::unordered_map<std::string, Item> items;
    for (XmlNode item : xml_children(child_named(package, "manifest"))) {
        if (local_name(item) != "item")
            continue;
        Item entry{member_of(folder, xml_attr(item, "href")), xml_attr(item, "media-type"),
                   has_token(xml_attr(item, "properties"), "nav")};
        items.emplace(xml_attr(item, "id"), std::move(entry));
    }
    std::vector<Page> pages;
    std::unordered_set<std::string> seen;
    for (XmlNode ref : xml_children(child_named(package, "spine"))) {
        if (local_name(ref) != "itemref")
            continue;
        auto found = items.find(xml_attr(ref, "idref"));
        if (found == items.end() || found->second.member.empty() || !readable_type(found->second.media_type))
            continue;
        bool linear = xml_attr(ref, "linear") != "no";
        if ((found->second.nav && !linear) || !seen.insert(found->second.member).second)
            continue;
        pages.push_back(Page{found->second.member, linear});
    }
    std::vector<std::string> order;
    for (bool linear : {true, false})
        for (const Page &page : pages)
            if (page.linear == linear)
                order.push_back(page.member);
    return order;
}

ReadResult read_epub(const Input &in, Document &doc)
{
    ZipPtr zip(zip_open_bytes(in.bytes));
    if (!zip)
        return ReadResult::not_this_format;
    std::string opf_path = package_path(zip.get());
    std::string bytes;
    XmlDocPtr opf(zip_read(zip.get(), opf_path, bytes) ? markup_parse(bytes, false) : nullptr);
    XmlNode package = child_named(reinterpret_cast<XmlNode>(opf.get()), "package");
    if (package == nullptr)
        return ReadResult::not_this_format;
    std::vector<std::string> order = reading_order(package, folder_of(opf_path));
    opf.reset();
    std::unordered_set<std::string> enciphered = enciphered_members(zip.get());
    Notes notes;
    size_t withheld = 0;
    std::string read_up_to;
    for (size_t k = 0; k < order.size(); k++) {
        if (enciphered.count(order[k])) {
            withheld++;
            continue;
        }
        bool too_large = false;
        if (zip_read(zip.get(), order[k], bytes))
            html_bytes_walk(bytes, notes, doc, &too_large);
        if (too_large)
            return book_stopped(doc, in, "EPUB", read_up_to);
        // A page's blocks are final once it is walked: notes to come take
        // their labels from the references, never the other way.
        read_up_to = "chapter " + std::to_string(k + 1);
        document_flush(doc, read_up_to);
    }
    if (!document_has_blocks(doc) && withheld > 0)
        return notice(doc, NoticeKind::drm, in.name);
    return ReadResult::read;
}
