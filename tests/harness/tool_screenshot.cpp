// Draws doc/screenshot.svg from the screen of a real run: drifterm reads the
// bundled sample text on an 80x24 pty, is paused part of the way in, and
// every cell (text, bold, reverse video, colours) is written out as SVG.
//   tool_screenshot OUTPUT.svg
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace {

constexpr int rows = 24, cols = 80;
constexpr int cell_w = 9, cell_h = 19, font_px = 15;
constexpr int pad = 14, title_h = 30;
constexpr const char *default_fg = "#d0d0d0";
constexpr const char *default_bg = "#141414";
const char *const command_shown = "drifterm -c bgblue -s 40 -f sample.txt";

// The xterm palette, as the pty's screen model numbers its colours.
std::string palette_rgb(int index, bool foreground)
{
    static const char *const base[16] = {
        "#000000", "#cd0000", "#00cd00", "#cdcd00", "#0000ee", "#cd00cd", "#00cdcd", "#e5e5e5",
        "#7f7f7f", "#ff0000", "#00ff00", "#ffff00", "#5c5cff", "#ff00ff", "#00ffff", "#ffffff"};
    if (index < 0)
        return foreground ? default_fg : default_bg;
    if (index < 16)
        return base[index];
    int r, g, b;
    if (index < 232) {
        static const int level[6] = {0, 95, 135, 175, 215, 255};
        int n = index - 16;
        r = level[n / 36];
        g = level[(n / 6) % 6];
        b = level[n % 6];
    } else {
        r = g = b = 8 + 10 * (index - 232);
    }
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", r, g, b);
    return text;
}

std::string xml_escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

struct Style {
    std::string fg, bg;
    bool bold = false;
    bool operator==(const Style &o) const { return fg == o.fg && bg == o.bg && bold == o.bold; }
};

Style style_of(const Cell &cell)
{
    Style s{palette_rgb(cell.fg, true), palette_rgb(cell.bg, false), cell.bold};
    if (cell.reverse)
        std::swap(s.fg, s.bg);
    return s;
}

// One row as runs of cells that share a style: a background box for each
// run and its text, stretched to the run's exact width so any monospace
// font lines up with the grid.
void draw_row(Term *t, int row, std::string &svg)
{
    int y = title_h + pad + row * cell_h;
    int col = 0;
    while (col < cols) {
        Style style = style_of(term_cell(t, row, col));
        std::string text;
        int start = col, text_cells = 0;
        for (; col < cols; ++col) {
            Cell cell = term_cell(t, row, col);
            if (!(style_of(cell) == style))
                break;
            text += cell.text;
            if (cell.text != " " && !cell.text.empty())
                text_cells = col - start + 1;
        }
        int x = pad + start * cell_w;
        if (style.bg != default_bg)
            svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
                   "\" width=\"" + std::to_string((col - start) * cell_w) + "\" height=\"" +
                   std::to_string(cell_h) + "\" fill=\"" + style.bg + "\"/>\n";
        size_t end = text.find_last_not_of(' ');
        if (end == std::string::npos)
            continue;
        text.erase(end + 1);
        svg += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y + cell_h - 5) +
               "\" textLength=\"" + std::to_string(text_cells * cell_w) +
               "\" lengthAdjust=\"spacingAndGlyphs\" fill=\"" + style.fg + "\"" +
               (style.bold ? " font-weight=\"bold\"" : "") + ">" + xml_escape(text) + "</text>\n";
    }
}

std::string screen_svg(Term *t)
{
    int width = 2 * pad + cols * cell_w, height = title_h + 2 * pad + rows * cell_h;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                      "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                      std::to_string(width) + " " + std::to_string(height) + "\">\n";
    svg += "<title>drifterm reading its sample text</title>\n";
    svg += "<rect width=\"100%\" height=\"100%\" rx=\"8\" fill=\"" + std::string(default_bg) + "\"/>\n";
    svg += "<rect width=\"100%\" height=\"" + std::to_string(title_h) + "\" rx=\"8\" fill=\"#3a3a3a\"/>\n";
    svg += "<rect y=\"" + std::to_string(title_h - 8) + "\" width=\"100%\" height=\"8\" fill=\"#3a3a3a\"/>\n";
    for (int i = 0; i < 3; ++i)
        svg += "<circle cx=\"" + std::to_string(18 + 20 * i) + "\" cy=\"15\" r=\"6\" fill=\"" +
               (i == 0 ? "#ff5f56" : i == 1 ? "#ffbd2e" : "#27c93f") + "\"/>\n";
    svg += "<text x=\"50%\" y=\"20\" text-anchor=\"middle\" fill=\"#c8c8c8\" "
           "font-family=\"sans-serif\" font-size=\"13\">" +
           xml_escape(command_shown) + "</text>\n";
    svg += "<g font-family=\"DejaVu Sans Mono, Menlo, Consolas, monospace\" font-size=\"" +
           std::to_string(font_px) + "\" xml:space=\"preserve\">\n";
    for (int row = 0; row < rows; ++row)
        draw_row(t, row, svg);
    svg += "</g>\n</svg>\n";
    return svg;
}

bool status_line_at_least(Term *t, long line)
{
    std::string bar = term_row(t, rows - 1);
    return !bar.empty() && std::atol(bar.c_str()) >= line;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.svg\n", argv[0]);
        return 2;
    }
    std::string source = DRIFTERM_SOURCE_DIR;
    TempDir home;
    std::string sample = home.path + "/sample.txt";
    write_file(sample, read_file(source + "/doc/sample.txt"));

    Launch launch;
    launch.rows = rows;
    launch.cols = cols;
    launch.home = home.path;
    launch.cwd = home.path;
    launch.env = {{"DRIFTERM_FILTER", source + "/filter/lesspipe.sh"}};
    launch.args = {"-c", "bgblue", "-s", "40", "-f", "sample.txt"};
    TermPtr t(term_spawn(launch));
    if (!t)
        return 1;

    // Far enough in that the screen is full and bold lines are in view,
    // then paused so nothing moves while the cells are read.
    if (!term_wait_for(t.get(), [](Term *x) { return status_line_at_least(x, 52); }, 20000)) {
        std::fprintf(stderr, "tool_screenshot: the text never got going:\n%s\n",
                     term_screen(t.get()).c_str());
        return 1;
    }
    term_send(t.get(), "p");
    bool quiet = term_wait_for(t.get(), [](Term *x) {
        return term_now_ms() - term_last_change_ms(x) > 500;
    }, 5000);
    if (!quiet) {
        std::fprintf(stderr, "tool_screenshot: the screen did not settle\n");
        return 1;
    }
    std::string svg = screen_svg(t.get());
    term_send(t.get(), "qq");
    term_wait_exit(t.get(), 5000);

    FILE *out = std::fopen(argv[1], "w");
    if (!out || std::fputs(svg.c_str(), out) < 0 || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
