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

std::string make_pdf(const std::string &text)
{
    std::string stream = "BT /F1 18 Tf 72 720 Td (" + text + ") Tj ET";
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        " /Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    int number = 0;
    for (const std::string &o : objects) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(++number) + " 0 obj\n" + o + "\nendobj\n";
    }
    size_t xref = pdf.size();
    pdf += "xref\n0 6\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char entry[32];
        snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
        pdf += entry;
    }
    return pdf + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) +
           "\n%%EOF\n";
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
