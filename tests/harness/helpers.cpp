// What the tests of the reader share on top of the harness.
#include "helpers.h"

#include <random>

#include <sys/stat.h>

namespace harness {

// ---- starting the reader ----

Launch reader_launch(const std::string &home, std::vector<std::string> options,
                     const std::string &file)
{
    Launch launch;
    launch.home = home;
    launch.env = {{"DRIFTERM_FILTER", "/bin/true"}};
    launch.args = std::move(options);
    if (!file.empty())
        launch.args.insert(launch.args.end(), {"-f", file});
    return launch;
}

Launch piped_launch(const std::string &home, std::vector<std::string> options,
                    const std::string &input)
{
    Launch launch = reader_launch(home, std::move(options));
    launch.args.insert(launch.args.end(), {"-t", "{PTY}"});
    launch.stdin_pipe = true;
    launch.stdin_data = input;
    return launch;
}

ReaderRun::ReaderRun(const std::string &text, const std::vector<std::string> &options,
                     const std::string &name, const std::function<void(Launch &)> &adjust)
{
    Launch launch;
    if (name == "-") {
        launch = piped_launch(home.path, options, text);
    } else {
        path = dir.path + "/" + name;
        if (path.back() == '/')
            mkdir(path.c_str(), 0700);
        else
            write_file(path, text);
        launch = reader_launch(home.path, options, path);
    }
    launch.cwd = dir.path;
    if (adjust)
        adjust(launch);
    t.reset(term_spawn(launch));
}

bool ReaderRun::work_file_left() const
{
    return file_exists(work_dir_of(home.path) + "/drift_file");
}

Sandbox::Sandbox(const std::string &home_name) : home(dir.path + "/" + home_name)
{
    mkdir(home.c_str(), 0700);
}

std::string Sandbox::put(const std::string &name, const std::string &text) const
{
    std::string path = dir.path + "/" + name;
    write_file(path, text);
    return path;
}

std::string Sandbox::put_script(const std::string &name, const std::string &body) const
{
    std::string path = dir.path + "/" + name;
    write_script(path, body);
    return path;
}

// ---- sample texts ----

std::string numbered_lines(int count)
{
    std::string text;
    for (int i = 1; i <= count; i++)
        text += "line " + std::to_string(i) + "\n";
    return text;
}

std::string repeat(const std::string &piece, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += piece;
    return text;
}

std::string collapsed(const std::string &text)
{
    std::string out;
    for (char c : text) {
        bool white = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (white && (out.empty() || out.back() == ' '))
            continue;
        out += white ? ' ' : c;
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string random_text(unsigned seed, size_t size, bool with_nuls)
{
    std::mt19937 rng(seed);
    std::string text;
    while (text.size() < size) {
        switch (rng() % 12) {
        case 0: text += std::string(1 + rng() % 4, '\n'); break;
        case 1: text += "\r\n"; break;
        case 2: text += '\r'; break;
        case 3: text += std::string(rng() % 3000, 'L'); break;
        case 4: text += with_nuls ? '\0' : '\r'; break;
        default: text += "word " + std::to_string(rng() % 1000) + " "; break;
        }
    }
    return text;
}

namespace {

// A PDF of `objects` (numbered from 1; the first the catalog) with an
// exact cross-reference table, and `trailer` in the trailer's dictionary.
std::string pdf_file(const std::vector<std::string> &objects, const std::string &trailer = "")
{
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    int number = 0;
    for (const std::string &o : objects) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(++number) + " 0 obj\n" + o + "\nendobj\n";
    }
    size_t xref = pdf.size();
    std::string size = std::to_string(objects.size() + 1);
    pdf += "xref\n0 " + size + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char entry[32];
        snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
        pdf += entry;
    }
    return pdf + "trailer\n<< /Size " + size + " /Root 1 0 R" + trailer + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
}

// UTF-8 text as a PDF string in WinAnsiEncoding.
std::string pdf_string(const std::string &utf8)
{
    std::string out = "(";
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned code = c;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more)
            code = c & (0x3F >> more);
        for (i++; more > 0 && i < utf8.size(); more--, i++)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        switch (code) {
        case 0x2022: code = 0x95; break;
        case 0x2013: code = 0x96; break;
        case 0x2014: code = 0x97; break;
        case 0x2018: code = 0x91; break;
        case 0x2019: code = 0x92; break;
        case 0x201C: code = 0x93; break;
        case 0x201D: code = 0x94; break;
        default: if (code > 0xFF) code = '?';
        }
        if (code == '(' || code == ')' || code == '\\')
            out += '\\';
        out += static_cast<char>(code);
    }
    return out + ")";
}

} // namespace

std::string make_pdf(const std::string &text)
{
    std::string stream = "BT /F1 18 Tf 72 720 Td (" + text + ") Tj ET";
    return pdf_file({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    });
}

std::string make_pdf(const PdfLayout &layout)
{
    // 1 catalog, 2 pages, 3 and 4 the fonts, then a page and its content for each page.
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica"
                                        " /Encoding /WinAnsiEncoding >>",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Courier"
                                        " /Encoding /WinAnsiEncoding >>"};
    std::string kids;
    for (const std::vector<PdfText> &page : layout.pages) {
        std::string stream = "BT";
        for (const PdfText &t : page) {
            char place[96];
            snprintf(place, sizeof place, " /F%d %.2f Tf 1 0 0 1 %.2f %.2f Tm ", t.mono ? 2 : 1, t.size, t.x,
                     792 - t.y);
            if (t.actual.empty())
                stream += place + pdf_string(t.text) + " Tj";
            else
                stream += "/Span << /ActualText " + pdf_string(t.actual) + " >> BDC" + place + pdf_string(t.text) +
                          " Tj EMC";
        }
        stream += " ET";
        size_t page_number = objects.size() + 1;
        kids += (kids.empty() ? "" : " ") + std::to_string(page_number) + " 0 R";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate " +
                          std::to_string(layout.rotate) + " /Contents " +
                          std::to_string(page_number + 1) +
                          " 0 R /Resources << /Font << /F1 3 0 R /F2 4 0 R >> >> >>");
        objects.push_back("<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream +
                          "\nendstream");
    }
    size_t count = layout.claimed_pages > 0 ? static_cast<size_t>(layout.claimed_pages) : layout.pages.size();
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>";
    std::string trailer;
    if (layout.locked) {
        // The standard handler with a user password: /U matches no empty one.
        std::string o(64, 'a'), u(64, 'b');
        trailer = " /Encrypt << /Filter /Standard /V 1 /R 2 /P -4 /O <" + o + "> /U <" + u +
                  "> >> /ID [<0123456789abcdef0123456789abcdef> <0123456789abcdef0123456789abcdef>]";
    }
    return pdf_file(objects, trailer);
}

double pdf_text_width(const std::string &text, double size, bool mono)
{
    if (mono)
        return 0.6 * size * static_cast<double>(text.size());
    // Helvetica's widths from space to '~', in thousandths of the size.
    static const int widths[] = {
        278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278, 556, 556, 556,
        556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556, 1015, 667, 667, 722, 722, 667,
        611, 778, 722, 278, 500, 667, 556, 833, 722, 778, 667, 778, 722, 667, 611, 722, 667, 944, 667,
        667, 611, 278, 278, 278, 469, 556, 333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500,
        222, 833, 556, 556, 556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584};
    double total = 0;
    for (char c : text)
        total += c >= ' ' && c <= '~' ? widths[c - ' '] : 556;
    return total * size / 1000;
}

void write_script(const std::string &path, const std::string &body)
{
    write_file(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

FILE *stream_of(const std::string &bytes)
{
    FILE *f = tmpfile();
    fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

std::string contents_from_start(FILE *file)
{
    fflush(file);
    rewind(file);
    std::string text;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    rewind(file);
    return text;
}

// ---- screen checks ----

bool row_settles(Term *t, int row, int quiet_ms, int timeout_ms)
{
    int64_t deadline = term_now_ms() + timeout_ms;
    while (term_now_ms() < deadline)
        if (term_wait_row_differs(t, row, term_row(t, row), quiet_ms) < 0)
            return true;
    return false;
}

bool bar_hidden(Term *t)
{
    int bottom = term_rows(t) - 1;
    if (!term_row(t, bottom).empty())
        return false;
    for (int col = 0; col < term_cols(t); col++)
        if (term_cell(t, bottom, col).reverse)
            return false;
    return true;
}

bool out_of_curses_mode(Term *t)
{
    return !term_altscreen(t) && term_cursor_visible(t);
}

}  // namespace harness
