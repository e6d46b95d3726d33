// One file's bytes to the text to print. Also the fuzz target's entry:
// any bytes in, bounded work, text out.
#include <string>
#include <utility>
#include <vector>

#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/formats.h"
#include "convert/notices.h"
#include "convert/process.h"
#include "convert/xml.h"

// A reader in its confined child, given what its library needs: a folder
// of its data, the document as a file. One that runs programs confines
// them itself. A fuzz target may have it read here, where the fuzzer sees
// what the reader does.
static ReadResult read_with(const Format *format, ReadFunction read, const Input &in, Document &doc)
{
    if (format->confines_itself || reading_in_process())
        return read(in, doc);
    std::vector<std::string> paths;
    if (format->library_data)
        paths.emplace_back(format->library_data);
    Input named = in;
    InputFile file;
    if (format->by_path && in.path == nullptr) {
        if (!input_file_make(in, file))
            return notice(doc, NoticeKind::unreadable, in.name, format->name, "no room for a copy of it");
        named.path = file.path.c_str();
    }
    if (named.path != nullptr && format->by_path)
        paths.emplace_back(named.path);
    ReadResult result = read_confined(read, named, format->name, doc, paths);
    input_file_remove(file);
    return result;
}

// The reader of the kind, and where its bytes turn out not to be its
// format, the text reader's, or a notice naming what they look like:
// never nothing at all.
static ReadResult read_as(const Format *format, const Input &in, Document &doc)
{
    ReadResult result = read_with(format, format->read, in, doc);
    if (result != ReadResult::not_this_format)
        return result;
    doc = Document{};
    if (read_with(format_for(Kind::text), read_text, in, doc) == ReadResult::read)
        return ReadResult::read;
    doc = Document{};
    const char *type = binary_type(in.bytes);
    return notice(doc, NoticeKind::no_text, in.name, type ? type : format->name);
}

bool convert_document(const Input &in, const OutputCharset &out, std::string &text)
{
    static const bool xml_ready = (xml_init(), true); // the entity loader before any parse
    (void)xml_ready;
    text.clear();
    if (in.bytes.empty())
        return false;
    Kind kind = detect_kind(in.bytes, in.name);
    const Format *format = format_for(kind);
    if (format == nullptr || format->read == nullptr)
        return false;
    if (kind == Kind::text) {
        // The fast path: a text already fit to show is copied by the caller.
        bool ascii = false;
        if (text_fit_as_is(in.bytes, ascii)) {
            if (out.utf8 || ascii)
                return false;
            text = to_output_charset(in.bytes, out);
            return !text.empty();
        }
    }
    Document doc;
    read_as(format, in, doc);
    std::string laid_out = layout_text(std::move(doc));
    // A document that holds nothing to show says so: an empty output would
    // have the file itself shown, raw bytes and all.
    if (laid_out.empty() && kind != Kind::text) {
        doc = Document{};
        notice(doc, NoticeKind::no_text, in.name, format->name);
        laid_out = layout_text(doc);
    }
    // A parser may pass on bytes of a file that lied about its encoding.
    if (!valid_utf8(laid_out))
        laid_out = to_utf8(laid_out, "UTF-8");
    text = to_output_charset(laid_out, out);
    return !text.empty();
}
