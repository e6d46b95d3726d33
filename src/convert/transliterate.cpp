// UTF-8 to the output's set: through iconv, or to ASCII by our own
// tables where the locale has no more (C and POSIX): Latin letters as
// their base letters, Greek and Cyrillic romanised, signs spelt out.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "convert/charset.h"
#include "convert/document.h"
#include "convert/text.h"

// Base letters of the Latin blocks, one per code point: '?' for none,
// '*' for one spelt with more letters (in `spelt`).
static const char latin_extended_a[] = // U+0100..U+017F
    "AaAaAaCcCcCcCcDd"
    "DdEeEeEeEeEeGgGg"
    "GgGgHhHhIiIiIiIi"
    "Ii**JjKkqLlLlLlL"
    "lLlNnNnNn***OoOo"
    "Oo**RrRrRrSsSsSs"
    "SsTtTtTtUuUuUuUu"
    "UuUuWwYyYZzZzZzs";
static const char latin_extended_b[] = // U+0180..U+024F
    "bBBb??OCcDDDdd*E"
    "EFfGG*IIKkll?NnO"
    "Oo**PpR????tTtTU"
    "uUVYyZzZ??z???*w"
    "|*?!*********AaI"
    "iOoUuUuUuUuUueAa"
    "Aa**GgGgKkOoOoZz"
    "j***Gg**NnAa**Oo"
    "AaAaEeEeIiIiOoOo"
    "RrRrUuUuSsTtYyHh"
    "Nd**ZzAaEeOoOoOo"
    "OoYylntj**ACcLTs"
    "z??BUVEeJjQqRrYy";
static const char latin_extended_additional[] = // U+1E00..U+1EFF
    "AaBbBbBbCcDdDdDd"
    "DdDdEeEeEeEeEeFf"
    "GgHhHhHhHhHhIiIi"
    "KkKkKkLlLlLlLlMm"
    "MmMmNnNnNnNnOoOo"
    "OoOoPpPpRrRrRrRr"
    "SsSsSsSsSsTtTtTt"
    "TtUuUuUuUuUuVvVv"
    "WwWwWwWwWwXxXxYy"
    "ZzZzZzhtwyasss*d"
    "AaAaAaAaAaAaAaAa"
    "AaAaAaAaEeEeEeEe"
    "EeEeEeEeIiIiOoOo"
    "OoOoOoOoOoOoOoOo"
    "OoOoUuUuUuUuUuUu"
    "UuYyYyYyYy**VvYy";

struct Spelt {
    uint32_t cp;
    const char *ascii;
};

// Everything else that has an ASCII rendering, in code point order.
static const Spelt spelt[] = {
    {0x00A0, " "},    {0x00A1, "!"},    {0x00A2, "c"},     {0x00A3, "GBP"},   {0x00A5, "JPY"},
    {0x00A6, "|"},    {0x00A7, "S"},    {0x00A8, "\""},    {0x00A9, "(c)"},   {0x00AA, "a"},
    {0x00AB, "<<"},   {0x00AC, "!"},    {0x00AD, ""},      {0x00AE, "(R)"},   {0x00AF, "-"},
    {0x00B0, "deg"},  {0x00B1, "+/-"},  {0x00B2, "2"},     {0x00B3, "3"},     {0x00B4, "'"},
    {0x00B5, "u"},    {0x00B6, "P"},    {0x00B7, "*"},     {0x00B8, ","},     {0x00B9, "1"},
    {0x00BA, "o"},    {0x00BB, ">>"},   {0x00BC, " 1/4"},  {0x00BD, " 1/2"},  {0x00BE, " 3/4"},
    {0x00BF, "?"},    {0x00C6, "AE"},   {0x00D0, "D"},     {0x00D7, "x"},     {0x00D8, "O"},
    {0x00DE, "Th"},   {0x00DF, "ss"},   {0x00E6, "ae"},    {0x00F0, "d"},     {0x00F7, "/"},
    {0x00F8, "o"},    {0x00FE, "th"},   {0x0132, "IJ"},    {0x0133, "ij"},    {0x0149, "'n"},
    {0x014A, "NG"},   {0x014B, "ng"},   {0x0152, "OE"},    {0x0153, "oe"},    {0x018E, "E"},
    {0x0195, "hv"},   {0x01A2, "OI"},   {0x01A3, "oi"},    {0x01BE, "?"},     {0x01C1, "||"},
    {0x01C4, "DZ"},   {0x01C5, "Dz"},   {0x01C6, "dz"},    {0x01C7, "LJ"},    {0x01C8, "Lj"},
    {0x01C9, "lj"},   {0x01CA, "NJ"},   {0x01CB, "Nj"},    {0x01CC, "nj"},    {0x01E2, "AE"},
    {0x01E3, "ae"},   {0x01F1, "DZ"},   {0x01F2, "Dz"},    {0x01F3, "dz"},    {0x01F6, "Hv"},
    {0x01F7, "W"},    {0x01FC, "AE"},   {0x01FD, "ae"},    {0x0222, "OU"},    {0x0223, "ou"},
    {0x0238, "db"},   {0x0239, "qp"},   {0x02B9, "'"},     {0x02BA, "\""},    {0x02BB, "'"},
    {0x02BC, "'"},    {0x02C6, "^"},    {0x02C8, "'"},     {0x02CB, "`"},     {0x02CD, "_"},
    {0x02D0, ":"},    {0x02DC, "~"},    {0x037E, "?"},     {0x0490, "G"},     {0x0491, "g"},
    {0x0492, "Gh"},   {0x0493, "gh"},   {0x049A, "Q"},     {0x049B, "q"},     {0x04A2, "Ng"},
    {0x04A3, "ng"},   {0x04AE, "U"},    {0x04AF, "u"},     {0x04B0, "U"},     {0x04B1, "u"},
    {0x04BA, "H"},    {0x04BB, "h"},    {0x04D8, "A"},     {0x04D9, "a"},     {0x04E8, "O"},
    {0x04E9, "o"},    {0x1E9E, "SS"},   {0x1EFA, "LL"},    {0x1EFB, "ll"},    {0x2010, "-"},
    {0x2011, "-"},    {0x2012, "-"},    {0x2013, "-"},     {0x2014, "--"},    {0x2015, "--"},
    {0x2016, "||"},   {0x2017, "_"},    {0x2018, "'"},     {0x2019, "'"},     {0x201A, ","},
    {0x201B, "'"},    {0x201C, "\""},   {0x201D, "\""},    {0x201E, "\""},    {0x201F, "\""},
    {0x2020, "+"},    {0x2021, "++"},   {0x2022, "*"},     {0x2023, ">"},     {0x2024, "."},
    {0x2025, ".."},   {0x2026, "..."},  {0x2027, "-"},     {0x2030, "0/00"},  {0x2031, "0/000"},
    {0x2032, "'"},    {0x2033, "\""},   {0x2034, "'''"},   {0x2035, "`"},     {0x2036, "``"},
    {0x2039, "<"},    {0x203A, ">"},    {0x203C, "!!"},    {0x203D, "?!"},    {0x2043, "-"},
    {0x2044, "/"},    {0x2047, "??"},   {0x2048, "?!"},    {0x2049, "!?"},    {0x204E, "*"},
    {0x20A4, "L"},    {0x20A6, "N"},    {0x20A8, "Rs"},    {0x20A9, "W"},     {0x20AA, "ILS"},
    {0x20AB, "d"},    {0x20AC, "EUR"},  {0x20AD, "K"},     {0x20AE, "T"},     {0x20B1, "P"},
    {0x20B4, "UAH"},  {0x20B8, "T"},    {0x20B9, "Rs"},    {0x20BA, "TL"},    {0x20BD, "RUB"},
    {0x20BF, "BTC"},  {0x2100, "a/c"},  {0x2101, "a/s"},   {0x2103, "degC"},  {0x2105, "c/o"},
    {0x2109, "degF"}, {0x2113, "l"},    {0x2116, "No"},    {0x2117, "(P)"},   {0x211E, "Rx"},
    {0x2120, "SM"},   {0x2121, "TEL"},  {0x2122, "TM"},    {0x2126, "Ohm"},   {0x212A, "K"},
    {0x212B, "A"},    {0x212E, "e"},    {0x2153, " 1/3"},  {0x2154, " 2/3"},  {0x2155, " 1/5"},
    {0x215B, " 1/8"}, {0x215C, " 3/8"}, {0x215D, " 5/8"},  {0x215E, " 7/8"},  {0x2190, "<-"},
    {0x2191, "^"},    {0x2192, "->"},   {0x2193, "v"},     {0x2194, "<->"},   {0x21D0, "<="},
    {0x21D2, "=>"},   {0x21D4, "<=>"},  {0x2212, "-"},     {0x2215, "/"},     {0x2216, "\\"},
    {0x2217, "*"},    {0x2219, "*"},    {0x221A, "sqrt"},  {0x221E, "inf"},   {0x2223, "|"},
    {0x2236, ":"},    {0x223C, "~"},    {0x2248, "~"},     {0x2260, "!="},    {0x2261, "=="},
    {0x2264, "<="},   {0x2265, ">="},   {0x226A, "<<"},    {0x226B, ">>"},    {0x22C5, "*"},
    {0x22EF, "..."},  {0x25A0, "#"},    {0x25A1, "[]"},    {0x25AA, "*"},     {0x25AB, "*"},
    {0x25B2, "^"},    {0x25B6, ">"},    {0x25BA, ">"},     {0x25BC, "v"},     {0x25C0, "<"},
    {0x25C4, "<"},    {0x25C6, "*"},    {0x25CB, "o"},     {0x25CF, "*"},     {0x25E6, "o"},
    {0x2605, "*"},    {0x2606, "*"},    {0x2610, "[ ]"},   {0x2611, "[x]"},   {0x2612, "[x]"},
    {0x2713, "v"},    {0x2714, "v"},    {0x2717, "x"},     {0x2718, "x"},     {0x3001, ","},
    {0x3002, "."},    {0x3008, "<"},    {0x3009, ">"},     {0x300A, "<<"},    {0x300B, ">>"},
    {0x300C, "\""},   {0x300D, "\""},   {0x300E, "\""},    {0x300F, "\""},    {0x3010, "["},
    {0x3011, "]"},    {0x3014, "("},    {0x3015, ")"},     {0x301C, "~"},     {0xFB00, "ff"},
    {0xFB01, "fi"},   {0xFB02, "fl"},   {0xFB03, "ffi"},   {0xFB04, "ffl"},   {0xFB05, "st"},
    {0xFB06, "st"},
};

// Greek in a simple romanisation, U+0386..U+03CE; "" for no letter.
static const char *const greek[] = {
    "A", ";", "E", "I", "I", "",  "O", "",  "Y",  "O",  "i", "A", "V", "G", "D",  "E",
    "Z", "I", "Th", "I", "K", "L", "M", "N", "X", "O", "P", "R", "",  "S", "T",  "Y",
    "F", "Ch", "Ps", "O", "I", "Y", "a", "e", "i", "i", "y", "a", "v", "g", "d", "e",
    "z", "i", "th", "i", "k", "l", "m", "n", "x", "o", "p", "r", "s", "s", "t",  "y",
    "f", "ch", "ps", "o", "i", "y", "o", "y", "o",
};

// Cyrillic, U+0400..U+045F: Russian, Ukrainian, Belarusian, Serbian,
// Macedonian and Bulgarian letters.
static const char *const cyrillic[] = {
    "E", "Yo", "Dj", "Gj", "Ye", "Dz", "I", "Yi", "J", "Lj", "Nj", "C", "Kj", "I", "U", "Dzh",
    "A", "B", "V", "G", "D", "E", "Zh", "Z", "I", "Y", "K", "L", "M", "N", "O", "P",
    "R", "S", "T", "U", "F", "Kh", "Ts", "Ch", "Sh", "Shch", "\"", "Y", "'", "E", "Yu", "Ya",
    "a", "b", "v", "g", "d", "e", "zh", "z", "i", "y", "k", "l", "m", "n", "o", "p",
    "r", "s", "t", "u", "f", "kh", "ts", "ch", "sh", "shch", "\"", "y", "'", "e", "yu", "ya",
    "e", "yo", "dj", "gj", "ye", "dz", "i", "yi", "j", "lj", "nj", "c", "kj", "i", "u", "dzh",
};

// Marks that change no letter's base, joiners, direction marks,
// variation selectors: nothing in ASCII.
static bool invisible(uint32_t cp)
{
    return (cp >= 0x0300 && cp <= 0x036F) || cp == 0x034F || cp == 0x061C || cp == 0x180E ||
           (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) || (cp >= 0x200B && cp <= 0x200F) ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || (cp >= 0x20D0 && cp <= 0x20FF) ||
           (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xFE20 && cp <= 0xFE2F) || cp == 0xFEFF ||
           (cp >= 0x1F3FB && cp <= 0x1F3FF) || (cp >= 0xE0000 && cp <= 0xE01EF);
}

static bool space_like(uint32_t cp)
{
    return cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

// A letter of a base-letter table, or its spelling when it takes more.
static bool from_bases(std::string &out, const char *bases, uint32_t first, size_t count, uint32_t cp)
{
    if (cp < first || cp >= first + count)
        return false;
    char base = bases[cp - first];
    if (base == '*')
        return false; // spelt out below
    out += base;
    return true;
}

static bool from_spelt(std::string &out, uint32_t cp)
{
    const Spelt *end = std::end(spelt);
    const Spelt *found = std::lower_bound(std::begin(spelt), end, cp,
                                          [](const Spelt &s, uint32_t value) { return s.cp < value; });
    if (found == end || found->cp != cp)
        return false;
    out += found->ascii;
    return true;
}

static bool from_ranges(std::string &out, uint32_t cp)
{
    if (cp >= 0x0386 && cp < 0x0386 + std::size(greek) && *greek[cp - 0x0386]) {
        out += greek[cp - 0x0386];
        return true;
    }
    if (cp >= 0x0400 && cp < 0x0400 + std::size(cyrillic)) {
        out += cyrillic[cp - 0x0400];
        return true;
    }
    if (cp == 0x2070 || (cp >= 0x2074 && cp <= 0x2079) || (cp >= 0x2080 && cp <= 0x2089)) {
        out += static_cast<char>('0' + (cp >= 0x2080 ? cp - 0x2080 : cp - 0x2070));
        return true;
    }
    if ((cp >= 0x2160 && cp <= 0x216B) || (cp >= 0x2170 && cp <= 0x217B)) {
        out += roman_numeral(cp >= 0x2170 ? cp - 0x2170 + 1 : cp - 0x2160 + 1, cp < 0x2170);
        return true;
    }
    if (cp >= 0x2460 && cp <= 0x2473) { // circled numbers
        out += "(" + std::to_string(cp - 0x2460 + 1) + ")";
        return true;
    }
    if (cp >= 0x2500 && cp <= 0x257F) { // box drawing
        static const uint32_t across[] = {0x2500, 0x2501, 0x2504, 0x2505, 0x2508, 0x2509, 0x254C, 0x254D};
        static const uint32_t down[] = {0x2502, 0x2503, 0x2506, 0x2507, 0x250A, 0x250B, 0x254E, 0x254F, 0x2551};
        if (cp == 0x2550)
            out += '=';
        else if (std::find(std::begin(across), std::end(across), cp) != std::end(across))
            out += '-';
        else if (std::find(std::begin(down), std::end(down), cp) != std::end(down))
            out += '|';
        else
            out += '+';
        return true;
    }
    if (cp >= 0xFF01 && cp <= 0xFF5E) { // fullwidth ASCII
        out += static_cast<char>(cp - 0xFEE0);
        return true;
    }
    return false;
}

// `cp` in ASCII: a Latin letter as its base letter, punctuation as its
// ASCII look-alike, Greek and Cyrillic romanised, anything else "?".
static void append_ascii(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
        return;
    }
    if (invisible(cp))
        return;
    if (space_like(cp)) {
        out += ' ';
        return;
    }
    static const char latin1[] = "AAAAAA*CEEEEIIII*NOOOOO*OUUUUY**aaaaaa*ceeeeiiii*nooooo*ouuuuy*y"; // U+00C0..
    if (from_bases(out, latin1, 0xC0, 64, cp) || from_bases(out, latin_extended_a, 0x100, 128, cp) ||
        from_bases(out, latin_extended_b, 0x180, 208, cp) ||
        from_bases(out, latin_extended_additional, 0x1E00, 256, cp) || from_spelt(out, cp) || from_ranges(out, cp))
        return;
    out += '?';
}

static std::string transliterated(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    size_t at = 0;
    while (at < utf8.size()) {
        // ASCII bytes go through as they are, without decoding.
        size_t ascii_end = at;
        while (ascii_end < utf8.size() && static_cast<unsigned char>(utf8[ascii_end]) < 0x80)
            ascii_end++;
        out.append(utf8.data() + at, ascii_end - at);
        at = ascii_end;
        if (at < utf8.size())
            append_ascii(out, next_code_point(utf8, at));
    }
    return out;
}

// Through iconv with //TRANSLIT; a character it cannot write becomes our
// own ASCII rendering of it.
static bool iconv_from_utf8(std::string_view utf8, const std::string &codeset, std::string &out)
{
    return iconv_convert(utf8, "UTF-8", codeset + "//TRANSLIT", false,
                         [](std::string_view rest, std::string &ascii) {
                             size_t at = 0;
                             append_ascii(ascii, next_code_point(rest, at));
                             return at;
                         },
                         out);
}

std::string to_output_charset(std::string_view utf8, const OutputCharset &out)
{
    if (out.utf8)
        return std::string(utf8);
    std::string text;
    if (!out.ascii && !out.codeset.empty() && iconv_from_utf8(utf8, out.codeset, text))
        return text;
    return transliterated(utf8);
}
