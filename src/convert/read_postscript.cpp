// PostScript and EPS: Ghostscript's pdfwrite device makes a PDF of it,
// which the PDF reader reads, so that words are told apart by where their
// letters sit (ps2ascii's text loses the gaps that spacing makes). A
// PostScript file is a program: gs runs it with -dSAFER, so that it cannot
// open, write or delete a file but its output; it runs confined like every
// program (its folder, the system's files), and under the time limit, so
// that it cannot loop for ever.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "convert/document.h"
#include "convert/notices.h"
#include "convert/process.h"
#include "convert/readers.h"
#include "convert/zip.h"

using namespace std::string_view_literals;

namespace {

// What the PostScript prints on its own standard output is not wanted;
// past this much, gs is stopped.
constexpr size_t printed_cap = size_t{1} << 20;

// The file gs wrote, up to `limit` bytes; false when there is none, or
// it is larger.
bool read_output(const std::string &path, size_t limit, std::string &bytes)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0 && bytes.size() <= limit)
        bytes.append(chunk, static_cast<size_t>(n));
    close(fd);
    return n == 0 && bytes.size() <= limit;
}

// The PDF that gs makes of the document in its private directory, or ""
// when it made none. The PDF is written there, relative to it, so that
// no '%' of the directory's path is taken for a page number.
std::string postscript_to_pdf(const std::string &gs, const InputFile &file)
{
    // The path is absolute, so never an option. -dSAFER still lets gs
    // read and write in its temporary directory, /tmp unless TMPDIR says
    // otherwise: here that is the private directory, which holds nothing
    // but the document. GS_OPTIONS emptied: nothing of the caller's may
    // undo -dSAFER.
    ChildOutput printed;
    run_program({gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pdfwrite", "-sOutputFile=out.pdf", file.path},
                {"GS_OPTIONS=", "TMPDIR=" + file.dir}, file, {"/etc/papersize", "/var/lib/ghostscript"}, printed_cap,
                read_seconds, printed);
    // Whatever it wrote before a time limit or an error still counts, as
    // far as the PDF reader can make it out.
    std::string pdf;
    if (!read_output(file.dir + "/out.pdf", archive_limit, pdf))
        pdf.clear();
    return pdf;
}

} // namespace

ReadResult read_postscript(const Input &in, Document &doc)
{
    // "%!PS", or the binary header of a DOS EPS file, which gs reads too.
    if (!in.bytes.starts_with("%!PS"sv) && !in.bytes.starts_with("\xc5\xd0\xd3\xc6"sv))
        return ReadResult::not_this_format;
    const std::string gs = program_on_path("gs");
    if (gs.empty())
        return notice(doc, NoticeKind::needs, in.name, "gs", "ghostscript");
    InputFile file;
    if (!input_file_make(in, file))
        return notice(doc, NoticeKind::no_text, in.name, "PostScript");
    std::string pdf = postscript_to_pdf(gs, file);
    input_file_remove(file);
    // The PDF reader finds no text where no glyph maps to a letter, as in
    // fonts that name their glyphs only by number: that is the
    // PostScript's notice, not the PDF's.
    Document read;
    Input made{pdf, in.name, nullptr};
    if (pdf.empty() || read_pdf(made, read) != ReadResult::read || read.blocks.empty())
        return notice(doc, NoticeKind::no_text, in.name, "PostScript");
    for (Block &block : read.blocks)
        doc.blocks.push_back(std::move(block));
    return ReadResult::read;
}
