// Word 97-2003 documents: read here (office/word97.cpp), in a confined
// child like every library's reading; the files that reader refuses (Word
// 6 and 95 among them) by antiword, and catdoc for those antiword will not
// read (short ones, or without a piece table). Both write one paragraph a
// line when asked not to wrap, so a line is a paragraph.
#include <string>
#include <string_view>
#include <vector>

#include "convert/document.h"
#include "convert/notices.h"
#include "convert/office/word97.h"
#include "convert/page_rows.h"
#include "convert/process.h"
#include "convert/readers.h"
#include "convert/zip.h"

using namespace std::string_view_literals;

namespace {

// The directory entry of the main stream, "WordDocument" in UTF-16LE:
// without it the compound file is a spreadsheet, a slide show, a mail...
bool has_word_stream(std::string_view bytes)
{
    static const std::string_view name = "W\0o\0r\0d\0D\0o\0c\0u\0m\0e\0n\0t\0"sv;
    return bytes.find(name) != std::string_view::npos;
}

bool has_text(std::string_view out)
{
    return out.find_first_not_of(" \t\r\n\f\v") != std::string_view::npos;
}

// Runs `program` on the file; true when it ended well and wrote text.
bool convert_with(const std::string &program, std::vector<std::string> args, const InputFile &file,
                  std::string &out)
{
    args.insert(args.begin(), program);
    args.push_back("--");
    args.push_back(file.path);
    ChildOutput result;
    run_program(args, {}, file, {"/etc/catdocrc"}, member_limit, child_seconds, result);
    if (!result.succeeded || !has_text(result.out))
        return false;
    out = std::move(result.out);
    return true;
}

// The reader of the file itself, refusing what it does not know.
ReadResult read_word97(const Input &in, Document &doc)
{
    std::string why_not;
    return word97_read(in.bytes, doc, why_not) ? ReadResult::read : ReadResult::not_this_format;
}

} // namespace

ReadResult read_doc(const Input &in, Document &doc)
{
    if (!in.bytes.starts_with("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"sv))
        return ReadResult::not_this_format;
    if (!has_word_stream(in.bytes))
        return notice(doc, NoticeKind::no_text, in.name, "Office document");
    ReadResult own = read_confined(read_word97, in, "Word document", doc);
    if (own == ReadResult::read && !document_has_blocks(doc))
        return notice(doc, NoticeKind::no_text, in.name, "Word document");
    if (own != ReadResult::not_this_format)
        return own;
    doc = Document{};
    const std::string antiword = program_on_path("antiword");
    const std::string catdoc = program_on_path("catdoc");
    if (antiword.empty() && catdoc.empty())
        return notice(doc, NoticeKind::needs, in.name, "antiword", "antiword");
    InputFile file;
    if (!input_file_make(in, file))
        return notice(doc, NoticeKind::no_text, in.name, "Word document");
    std::string text;
    bool read = (!antiword.empty() && convert_with(antiword, {"-w", "0", "-m", "UTF-8.txt"}, file, text)) ||
                (!catdoc.empty() && convert_with(catdoc, {"-w", "-d", "utf-8"}, file, text));
    input_file_remove(file);
    if (read) {
        line_blocks(text, doc);
        return ReadResult::read;
    }
    if (catdoc.empty())
        return notice(doc, NoticeKind::needs, in.name, "catdoc", "catdoc");
    return notice(doc, NoticeKind::no_text, in.name, "Word document");
}
