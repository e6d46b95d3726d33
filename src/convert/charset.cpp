// Character sets: BOMs, UTF-16 without one, uchardet's guess, iconv.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <uchardet/uchardet.h>

#include "convert/charset.h"

// Guesses look at the head only: a text's encoding shows in its first lines.
static constexpr size_t sample_size = 64 * 1024;

static std::string_view head_of(std::string_view bytes, size_t size)
{
    return bytes.substr(0, std::min(bytes.size(), size));
}

static bool starts_with(std::string_view bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

static std::string upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// ---------------------------------------------------------------- UTF-8

// The length of the valid sequence at `p` (at most `left` bytes), or 0.
static size_t utf8_sequence(const unsigned char *p, size_t left)
{
    unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0; // no overlongs
        else if (b == 0xED)
            high = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < length; i++)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

size_t ascii_run_end(std::string_view bytes, size_t at)
{
    // Eight bytes at a time: most texts are mostly ASCII.
    for (; at + 8 <= bytes.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        if (word & 0x8080808080808080ull)
            break;
    }
    while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80)
        at++;
    return at;
}

bool valid_utf8(std::string_view bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t size = bytes.size(), at = 0;
    while (at < size) {
        at = ascii_run_end(bytes, at);
        if (at >= size)
            break;
        size_t length = utf8_sequence(p + at, size - at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

uint32_t next_code_point(std::string_view text, size_t &at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data()) + at;
    size_t length = utf8_sequence(p, text.size() - at);
    at += length == 0 ? 1 : length;
    switch (length) {
    case 1:
        return p[0];
    case 2:
        return (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    case 3:
        return (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    case 4:
        return (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
    default:
        return 0xFFFD;
    }
}

void append_utf8(std::string &out, uint32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The bytes at `p` that start a sequence but end too soon: a lead byte and
// the continuation bytes it rightly took, which make one U+FFFD as the
// Unicode standard recommends; at least one byte.
static size_t broken_sequence(const unsigned char *p, size_t left)
{
    unsigned char b = p[0];
    size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
    unsigned char low = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char high = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    if (b < 0xC2 || b > 0xF4 || left < 2 || p[1] < low || p[1] > high)
        return 1;
    size_t taken = 2;
    while (taken < length && taken < left && (p[taken] & 0xC0) == 0x80)
        taken++;
    return taken;
}

// UTF-8 with every broken sequence as U+FFFD.
static std::string repair_utf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t size = bytes.size(), at = 0, run = 0; // run: start of the valid bytes not yet copied
    while (at < size) {
        size_t length = utf8_sequence(p + at, size - at);
        if (length > 0) {
            at += length;
            continue;
        }
        out.append(bytes.data() + run, at - run);
        append_utf8(out, 0xFFFD);
        at += broken_sequence(p + at, size - at);
        run = at;
    }
    out.append(bytes.data() + run, size - run);
    return out;
}

// ---------------------------------------------------------------- UTF-16

static uint32_t unit_at(const unsigned char *p, bool little_endian)
{
    return little_endian ? (p[0] | p[1] << 8) : (p[0] << 8 | p[1]);
}

// Characters a text in UTF-16 is made of: ASCII, the alphabets and
// punctuation of U+00A0..U+24FF, CJK and Hangul, compatibility forms.
static bool plausible_unit(uint32_t unit)
{
    if (unit == 0x09 || unit == 0x0A || unit == 0x0C || unit == 0x0D)
        return true;
    return (unit >= 0x20 && unit <= 0x7E) || (unit >= 0xA0 && unit <= 0x24FF) ||
           (unit >= 0x2500 && unit <= 0x27BF) || (unit >= 0x2E80 && unit <= 0x9FFF) ||
           (unit >= 0xAC00 && unit <= 0xD7A3) || (unit >= 0xF900 && unit <= 0xFAFF) ||
           (unit >= 0xFE30 && unit <= 0xFFFD);
}

// True when the units of `bytes` in that byte order read as a text: every
// surrogate paired, no U+0000 before the end, next to no control or
// unlikely character, and its line ends (or, in a single line, its spaces)
// whole units. An 8-bit text holding stray NUL bytes fails the last: its
// LF and space bytes sit beside other bytes, not beside zeros. Text with
// few ASCII units (Cyrillic, CJK) has many bytes that no ASCII text has
// (04 in Cyrillic, bytes past 7F in CJK), which one with stray NULs lacks.
static bool reads_as_utf16(std::string_view bytes, bool little_endian)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t units = bytes.size() / 2, unlikely = 0;
    size_t lf_units = 0, space_units = 0, ascii_units = 0;
    for (size_t i = 0; i < units; i++) {
        uint32_t unit = unit_at(p + 2 * i, little_endian);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == units)
                break; // cut by the sample's end
            uint32_t next = unit_at(p + 2 * (i + 1), little_endian);
            if (next < 0xDC00 || next > 0xDFFF)
                return false;
            i++;
            continue;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            return false;
        if (unit == 0) {
            // NUL units only as padding at the very end.
            for (size_t j = i; j < units; j++)
                if (p[2 * j] != 0 || p[2 * j + 1] != 0)
                    return false;
            units = i;
            break;
        }
        ascii_units += unit < 0x80;
        lf_units += unit == 0x0A;
        space_units += unit == 0x20;
        if (!plausible_unit(unit))
            unlikely++;
    }
    if (units < 2 || unlikely * 50 > units)
        return false;
    std::string_view text = bytes.substr(0, 2 * units);
    if (ascii_units * 10 < units * 3) {
        size_t foreign = static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
            auto b = static_cast<unsigned char>(c);
            return b >= 0x80 || (b > 0 && b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f');
        }));
        if (foreign * 10 < text.size())
            return false;
    }
    size_t lf_bytes = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    if (lf_bytes > 0)
        return lf_units * 2 >= lf_bytes;
    size_t space_bytes = static_cast<size_t>(std::count(text.begin(), text.end(), ' '));
    return space_units > 0 && space_units * 2 >= space_bytes;
}

std::string utf16_without_bom(std::string_view bytes)
{
    std::string_view sample = head_of(bytes, sample_size);
    sample = sample.substr(0, sample.size() & ~size_t{1});
    // Latin text has a zero byte in every unit; CJK text only in its spaces
    // and line ends (20 00, 0A 00 in UTF-16LE), and in a few characters the
    // other way round (U+4E00 is 00 4E): each order is tried, and when both
    // read as text, the zeros' place decides.
    size_t even = 0, odd = 0;
    for (size_t i = 0; i < sample.size(); i += 2) {
        even += sample[i] == 0;
        odd += sample[i + 1] == 0;
    }
    if (even + odd == 0)
        return "";
    bool little = reads_as_utf16(sample, true), big = reads_as_utf16(sample, false);
    if (little && (!big || odd >= even))
        return "UTF-16LE";
    if (big)
        return "UTF-16BE";
    return "";
}

// UTF-32 without a BOM: every unit a character, no NUL before the end,
// spaces or line ends, next to nothing unlikely.
static bool reads_as_utf32(std::string_view bytes, bool little_endian)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    size_t units = bytes.size() / 4, unlikely = 0, line_ends = 0;
    for (size_t i = 0; i < units; i++) {
        const unsigned char *q = p + 4 * i;
        uint32_t unit = little_endian ? (q[0] | q[1] << 8 | q[2] << 16 | uint32_t{q[3]} << 24)
                                      : (uint32_t{q[0]} << 24 | q[1] << 16 | q[2] << 8 | q[3]);
        if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF))
            return false;
        if (unit == 0) {
            if (std::any_of(q, p + 4 * units, [](unsigned char b) { return b != 0; }))
                return false;
            units = i;
            break;
        }
        if (unit == 0x0A || unit == 0x0D || unit == 0x20)
            line_ends++;
        if (unit < 0x10000 ? !plausible_unit(unit) : unit > 0x3FFFF)
            unlikely++;
    }
    return units >= 2 && line_ends > 0 && unlikely * 50 <= units;
}

std::string utf32_without_bom(std::string_view bytes)
{
    std::string_view sample = head_of(bytes, sample_size);
    sample = sample.substr(0, sample.size() & ~size_t{3});
    if (sample.size() < 8)
        return "";
    // Text's units are small: the high bytes are zero at one end.
    bool little_endian = sample[3] == 0 && sample[2] == 0;
    if (!little_endian && (sample[0] != 0 || sample[1] != 0))
        return "";
    if (!reads_as_utf32(sample, little_endian))
        return "";
    return little_endian ? "UTF-32LE" : "UTF-32BE";
}

// ---------------------------------------------------------------- detection

std::string bom_charset(std::string_view bytes)
{
    if (starts_with(bytes, "\xEF\xBB\xBF"))
        return "UTF-8";
    if (starts_with(bytes, std::string_view("\xFF\xFE\0\0", 4)) && bytes.size() % 4 == 0)
        return "UTF-32LE";
    if (starts_with(bytes, std::string_view("\0\0\xFE\xFF", 4)))
        return "UTF-32BE";
    if (starts_with(bytes, "\xFF\xFE"))
        return "UTF-16LE";
    if (starts_with(bytes, "\xFE\xFF"))
        return "UTF-16BE";
    return "";
}

static bool iconv_knows(const std::string &charset)
{
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

std::string widened_charset(const std::string &name)
{
    static const std::pair<const char *, const char *> wider[] = {
        // glibc's SHIFT_JIS reads 0x5C as a yen sign, and paths lose their separators.
        {"SHIFT_JIS", "CP932"}, {"SHIFT-JIS", "CP932"}, {"SJIS", "CP932"}, {"X-SJIS", "CP932"},
        {"MS_KANJI", "CP932"}, {"CSSHIFTJIS", "CP932"}, {"EUC-KR", "CP949"}, {"UHC", "CP949"},
        {"KS_C_5601-1987", "CP949"}, {"GB2312", "GB18030"}, {"GBK", "GB18030"},
        {"ISO-8859-1", "WINDOWS-1252"}, {"ISO8859-1", "WINDOWS-1252"}, {"LATIN1", "WINDOWS-1252"},
        {"ISO-8859-9", "WINDOWS-1254"},
    };
    std::string key = upper(name);
    for (const auto &[narrow, wide] : wider)
        if (key == narrow)
            return wide;
    return name;
}

// uchardet's names as iconv knows them, each widened to the superset that
// text files in it are really written in: Windows' code pages.
static std::string iconv_name(const std::string &guess)
{
    std::string name = widened_charset(upper(guess));
    if (name.empty() || name == "ASCII" || name == "UTF-16" || name == "UTF-32" || !iconv_knows(name))
        return "WINDOWS-1252";
    return name;
}

static std::string uchardet_guess(std::string_view bytes)
{
    uchardet_t detector = uchardet_new();
    if (detector == nullptr)
        return "";
    std::string_view sample = head_of(bytes, sample_size);
    std::string guess;
    if (uchardet_handle_data(detector, sample.data(), sample.size()) == 0) {
        uchardet_data_end(detector);
        const char *name = uchardet_get_charset(detector);
        if (name != nullptr)
            guess = name;
    }
    uchardet_delete(detector);
    return guess;
}

// On a short sample uchardet takes Windows' curly quotes, dashes and euro
// for a DOS code page's letters; DOS text would rather hold its box lines.
static bool windows_punctuation(std::string_view bytes)
{
    bool punctuation = false;
    for (unsigned char c : head_of(bytes, sample_size)) {
        if (c == 0x80 || c == 0x85 || (c >= 0x91 && c <= 0x97))
            punctuation = true;
        else if (c >= 0xb0 && c <= 0xdf)
            return false;
    }
    return punctuation;
}

// 7-bit text with ISO 2022 escapes (ESC $ ...) is no ASCII.
static bool has_iso2022_escape(std::string_view bytes)
{
    return head_of(bytes, sample_size).find("\x1b$") != std::string_view::npos;
}

std::string detect_charset(std::string_view bytes)
{
    std::string charset = bom_charset(bytes);
    if (!charset.empty())
        return charset;
    charset = utf16_without_bom(bytes);
    if (charset.empty())
        charset = utf32_without_bom(bytes);
    if (!charset.empty())
        return charset;
    if (valid_utf8(bytes)) {
        if (has_iso2022_escape(bytes)) {
            std::string guess = upper(uchardet_guess(bytes));
            if (guess.rfind("ISO-2022-", 0) == 0 && iconv_knows(guess))
                return guess;
        }
        return "UTF-8";
    }
    std::string guess = iconv_name(uchardet_guess(bytes));
    if (guess.rfind("IBM", 0) == 0 && guess != "IBM866" && windows_punctuation(bytes))
        return "WINDOWS-1252";
    return guess;
}

// ---------------------------------------------------------------- conversion

// "UTF-16" or "UTF-32" without an order: the BOM's, else the bytes'.
static std::string with_byte_order(const std::string &charset, std::string_view bytes)
{
    std::string bom = bom_charset(bytes);
    if (charset == "UTF-16") {
        if (bom.rfind("UTF-16", 0) == 0)
            return bom;
        std::string order = utf16_without_bom(bytes);
        return order.empty() ? "UTF-16LE" : order;
    }
    if (charset == "UTF-32") {
        if (bom.rfind("UTF-32", 0) == 0)
            return bom;
        std::string order = utf32_without_bom(bytes);
        return order.empty() ? "UTF-32LE" : order;
    }
    return charset;
}

// How many bytes to step over after one that is no character.
static size_t unit_size(const std::string &charset)
{
    if (charset.rfind("UTF-16", 0) == 0 || charset.rfind("UCS-2", 0) == 0)
        return 2;
    if (charset.rfind("UTF-32", 0) == 0 || charset.rfind("UCS-4", 0) == 0)
        return 4;
    return 1;
}

bool iconv_convert(std::string_view bytes, const std::string &from, const std::string &to, bool restart,
                   const IconvStandIn &stand_in, std::string &out)
{
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.assign(bytes.size() + bytes.size() / 2 + 16, '\0');
    size_t used = 0;
    char *in = const_cast<char *>(bytes.data());
    size_t in_left = bytes.size();
    while (in_left > 0) {
        char *to_at = out.data() + used;
        size_t room = out.size() - used;
        size_t done = iconv(cd, &in, &in_left, &to_at, &room);
        used = out.size() - room;
        if (done != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ (no character here) or EINVAL (cut off at the end).
        std::string replacement;
        size_t skip = std::min(stand_in(std::string_view(in, in_left), replacement), in_left);
        in += skip;
        in_left -= skip;
        if (out.size() - used < replacement.size())
            out.resize(out.size() * 2 + replacement.size());
        std::memcpy(out.data() + used, replacement.data(), replacement.size());
        used += replacement.size();
        if (restart)
            iconv(cd, nullptr, nullptr, nullptr, nullptr); // a stateful set starts over
    }
    out.resize(used);
    iconv_close(cd);
    return true;
}

// Converts with iconv, each unconvertible unit as U+FFFD; false when iconv
// does not know the set.
static bool iconv_to_utf8(std::string_view bytes, const std::string &charset, std::string &out)
{
    size_t step = unit_size(charset);
    return iconv_convert(bytes, charset, "UTF-8", true,
                         [step](std::string_view, std::string &replacement) {
                             replacement = "\xEF\xBF\xBD";
                             return step;
                         },
                         out);
}

std::string to_utf8(std::string_view bytes, const std::string &charset_name)
{
    std::string charset = with_byte_order(upper(widened_charset(charset_name)), bytes);
    if (charset.empty() || charset == "ASCII" || charset == "US-ASCII")
        charset = "WINDOWS-1252";
    std::string out;
    if (charset == "UTF-8" || charset == "UTF8")
        out = repair_utf8(bytes);
    else if (!iconv_to_utf8(bytes, charset, out))
        iconv_to_utf8(bytes, "WINDOWS-1252", out);
    if (starts_with(out, "\xEF\xBB\xBF"))
        out.erase(0, 3);
    return out;
}

// ---------------------------------------------------------------- text or not

// Text by every sign a quick look can give: a BOM, UTF-16 or UTF-32
// without one, or hardly any control characters (NUL among them) in its
// first 64 KiB. Text in a legacy code page, or in UTF-8, has none;
// compressed or executable bytes have them by the tenth or more.
bool looks_like_text(std::string_view bytes)
{
    std::string_view sample = head_of(bytes, sample_size);
    if (!bom_charset(sample).empty() || !utf16_without_bom(sample).empty() || !utf32_without_bom(sample).empty())
        return true;
    size_t controls = 0;
    for (char c : sample) {
        unsigned char u = static_cast<unsigned char>(c);
        // Tab, line ends, form feed, backspace and escape belong in text.
        bool allowed = u == '\t' || u == '\n' || u == '\r' || u == '\f' || u == '\v' || u == '\b' || u == 0x1b;
        if ((u < 0x20 && !allowed) || u == 0x7f)
            ++controls;
    }
    return controls * 100 <= sample.size();
}

bool text_fit_as_is(std::string_view bytes, bool &ascii)
{
    ascii = false;
    // memchr: the whole of a large text is looked through.
    auto holds = [bytes](char byte) { return std::memchr(bytes.data(), byte, bytes.size()) != nullptr; };
    if (bytes.empty()) {
        ascii = true;
        return true;
    }
    if (!bom_charset(bytes).empty() || holds('\r') || holds('\0') || !valid_utf8(bytes))
        return false;
    ascii = ascii_run_end(bytes, 0) == bytes.size();
    // ISO-2022-JP and its kin are 7-bit too.
    return !ascii || bytes.find('\x1b') == std::string_view::npos || detect_charset(bytes) == "UTF-8";
}
