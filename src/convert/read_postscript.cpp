// PostScript and EPS through ps2ascii, when ghostscript is installed. A
// PostScript file is a program: gs runs it with -dSAFER (which ps2ascii
// passes, and GS_OPTIONS repeats for a ps2ascii that would not), so it
// cannot open, write or delete a file, and under the time limit, so that
// it cannot loop for ever.
#include "convert/convert.h"

using namespace std::string_view_literals;

bool read_postscript(const Input &in, Document &doc)
{
    // "%!PS", or the binary header of a DOS EPS file, which gs reads too.
    if (!in.bytes.starts_with("%!PS"sv) && !in.bytes.starts_with("\xc5\xd0\xd3\xc6"sv))
        return false;
    const std::string ps2ascii = program_on_path("ps2ascii");
    if (ps2ascii.empty()) {
        doc.notice = notice_needs(in.name, "ps2ascii", "ghostscript");
        return true;
    }
    InputFile file;
    if (!input_file_make(in, file))
        return false;
    // ps2ascii takes no "--"; the path is absolute, so never an option.
    // Its own temporary files, and gs's, go into the private directory.
    ChildOutput result;
    run_program({ps2ascii, file.path}, {"GS_OPTIONS=-dSAFER", "TMPDIR=" + file.dir}, file.dir.c_str(),
                member_limit, child_seconds, result);
    input_file_remove(file);
    if (result.out.find_first_not_of(" \t\r\n\f\v") == std::string::npos) {
        doc.notice = notice_no_text(in.name, "PostScript");
        return true;
    }
    // Whatever it wrote before a time limit or an error still counts.
    paragraph_blocks(result.out, doc);
    return true;
}
