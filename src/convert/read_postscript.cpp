// PostScript and EPS through ps2ascii, when ghostscript is installed. A
// PostScript file is a program: gs runs it with -dSAFER (which ps2ascii
// passes, and GS_OPTIONS repeats for a ps2ascii that would not), so it
// cannot open, write or delete a file, and under the time limit, so that
// it cannot loop for ever.
#include <string>
#include <string_view>
#include <vector>

#include "convert/notices.h"
#include "convert/page_rows.h"
#include "convert/process.h"
#include "convert/readers.h"
#include "convert/zip.h"

using namespace std::string_view_literals;

namespace {

// ps2ascii lays each row out as the page has it, in columns: spaces for
// the left margin, and a row a line. It marks no gaps but blank rows; those
// are lines of their own here.
std::vector<LaidOutLine> rows_as_lines(std::string_view text)
{
    std::vector<LaidOutLine> lines;
    int y = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view row = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        while (!row.empty() && (row.back() == '\r' || row.back() == ' ' || row.back() == '\f'))
            row.remove_suffix(1);
        size_t indent = row.find_first_not_of(" \f");
        y -= 10;
        if (indent == std::string_view::npos)
            continue; // a blank row: the gap says what it means
        LaidOutLine line;
        line.text = row.substr(indent);
        line.x0 = static_cast<int>(indent);
        line.x1 = line.x0;
        for (char c : line.text) // columns are characters, not bytes
            line.x1 += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
        line.y1 = y + 8;
        line.y0 = y;
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

ReadResult read_postscript(const Input &in, Document &doc)
{
    // "%!PS", or the binary header of a DOS EPS file, which gs reads too.
    if (!in.bytes.starts_with("%!PS"sv) && !in.bytes.starts_with("\xc5\xd0\xd3\xc6"sv))
        return ReadResult::not_this_format;
    const std::string ps2ascii = program_on_path("ps2ascii");
    if (ps2ascii.empty())
        return notice(doc, NoticeKind::needs, in.name, "ps2ascii", "ghostscript");
    InputFile file;
    if (!input_file_make(in, file))
        return notice(doc, NoticeKind::no_text, in.name, "PostScript");
    // ps2ascii takes no "--"; the path is absolute, so never an option.
    // -dSAFER still lets gs read and write in its temporary directory, /tmp
    // unless TMPDIR says otherwise: here that is the private directory,
    // which holds nothing but the document. ps2ascii's own clean-up
    // ("rm -f _temp_.*" in its directory) happens there too.
    ChildOutput result;
    run_program({ps2ascii, file.path}, {"GS_OPTIONS=-dSAFER", "TMPDIR=" + file.dir}, file,
                {"/etc/papersize", "/var/lib/ghostscript"}, member_limit, child_seconds, result);
    input_file_remove(file);
    if (result.out.find_first_not_of(" \t\r\n\f\v") == std::string::npos)
        return notice(doc, NoticeKind::no_text, in.name, "PostScript");
    // Whatever it wrote before a time limit or an error still counts.
    paragraph_list_blocks(layout_paragraphs(rows_as_lines(result.out)), doc);
    return ReadResult::read;
}
