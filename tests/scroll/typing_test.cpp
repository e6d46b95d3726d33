// The typing helper: each character lands whole at the column its width gives.
#include <clocale>
#include <cstdio>
#include <string>

#include <curses.h>
#include <gtest/gtest.h>

#include "app/records.h"
#include "scroll/scroll.h"

// A UTF-8 curses screen writing to nowhere, with a 7-column main window
// whose typing row is row 0.
class Typing : public ::testing::Test {
protected:
    void SetUp() override
    {
        setlocale(LC_CTYPE, "C.UTF-8");
        out_ = fopen("/dev/null", "w");
        in_ = fopen("/dev/null", "r");
        screen_ = newterm("xterm", out_, in_);
        ASSERT_NE(screen_, nullptr);
        reader.main_window = newwin(3, 7, 0, 0);
        options.start_row = 0;
        reader.display_row = 1;
        typing_begin(&typing_);
    }
    void TearDown() override
    {
        delwin(reader.main_window);
        reader.main_window = nullptr;
        endwin();
        delscreen(screen_);
        fclose(in_);
        fclose(out_);
        setlocale(LC_CTYPE, "C");
    }
    void type(const char *bytes)
    {
        for (const char *p = bytes; *p; p++)
            typing_put(&typing_, *p);
    }
    // Row 0, one UTF-8 string per cell; a wide character fills two.
    std::string row_cells()
    {
        std::string text;
        for (int x = 0; x < 7; x++) {
            cchar_t cell;
            mvwin_wch(reader.main_window, 0, x, &cell);
            wchar_t wide[CCHARW_MAX + 1];
            attr_t attrs;
            short pair;
            getcchar(&cell, wide, &attrs, &pair, nullptr);
            char bytes[64] = "";
            wcstombs(bytes, wide, sizeof bytes);
            text += bytes;
            text += "|";
        }
        return text;
    }
    FILE *out_ = nullptr;
    FILE *in_ = nullptr;
    SCREEN *screen_ = nullptr;
    TypingState typing_;
};

TEST_F(Typing, CharactersAppearWholeAtTheirColumns)
{
    const struct {
        const char *line;
        const char *cells;
    } cases[] = {
        {"abc", "a|b|c| | | | |"},
        {"caf\xc3\xa9", "c|a|f|\xc3\xa9| | | |"},
        {"\xe2\x80\x94x", "\xe2\x80\x94|x| | | | | |"},
        {"\xe6\x97\xa5\xe6\x9c\xac!", "\xe6\x97\xa5|\xe6\x97\xa5|\xe6\x9c\xac|\xe6\x9c\xac|!| | |"},
        {"e\xcc\x81x", "e\xcc\x81|x| | | | | |"}, // combining acute joins the e
        {"a\xff" "b", "a|?|b| | | | |"},         // a stray byte
        {"\xc3" "A", "?|A| | | | | |"},          // a lead byte cut short
        {"\xe2\x80", "?|?| | | | | |"},          // cut off by the line's end
        {"\xc2\x85" "z", "?|?|z| | | | |"},     // an unprintable character
    };
    for (const auto &c : cases) {
        werase(reader.main_window);
        typing_begin(&typing_);
        type(c.line);
        typing_finish(&typing_);
        EXPECT_EQ(row_cells(), c.cells) << c.line;
    }
}

TEST_F(Typing, CharacterWaitsForItsLastByte)
{
    type("x\xe2\x80");
    EXPECT_EQ(row_cells(), "x| | | | | | |");
    EXPECT_EQ(typing_.column, 1);
    type("\x94");
    EXPECT_EQ(row_cells(), "x|\xe2\x80\x94| | | | | |");
    EXPECT_EQ(typing_.column, 2);
}
