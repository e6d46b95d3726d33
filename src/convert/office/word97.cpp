// Word 97-2003: the compound file's streams through libgsf, in a child of
// its own (a library meeting a hostile file takes only the child down), then
// the text by the piece table and the blocks by the paragraphs' properties
// (FKPs), the stylesheet, the list tables and the notes' tables, as the FIB
// points to them. Every offset and count is the file's: each is checked
// against the stream it points into, and each loop is bounded by a size.
#include "convert/office/word97.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "convert/charset.h"
#include "convert/document.h"
#include "convert/office/office.h"
#include "convert/text.h"

namespace {

// ---------------------------------------------------------------- bytes

// Little-endian values; 0 for bytes past the end.
uint32_t le(std::string_view s, size_t at, size_t bytes)
{
    if (at > s.size() || s.size() - at < bytes)
        return 0;
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(s[at + i])) << (8 * i);
    return value;
}

uint32_t le16(std::string_view s, size_t at)
{
    return le(s, at, 2);
}

uint32_t le32(std::string_view s, size_t at)
{
    return le(s, at, 4);
}

unsigned byte_at(std::string_view s, size_t at)
{
    return le(s, at, 1);
}

// `size` bytes at `at`, or nothing when they are not all there.
std::string_view slice(std::string_view s, uint64_t at, uint64_t size)
{
    if (at > s.size() || size > s.size() - at)
        return {};
    return s.substr(static_cast<size_t>(at), static_cast<size_t>(size));
}

std::string_view from(std::string_view s, uint64_t at)
{
    return at > s.size() ? std::string_view{} : s.substr(static_cast<size_t>(at));
}

// UTF-16LE code units to UTF-8, surrogate pairs joined, lone halves U+FFFD.
std::string utf16_text(std::string_view units)
{
    std::string out;
    for (size_t at = 0; at + 1 < units.size(); at += 2) {
        uint32_t c = le16(units, at), low = le16(units, at + 2);
        if (c >= 0xD800 && c < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        }
        append_utf8(out, c);
    }
    return out;
}

// ---------------------------------------------------------------- compound file

// The streams a Word file is read from; the FIB says which table stream.
const char *const stream_names[] = {"WordDocument", "0Table", "1Table", "Data"};
constexpr size_t stream_count = sizeof stream_names / sizeof stream_names[0];

struct Streams {
    std::string_view word, data;
    std::string_view tables[2]; // 0Table, 1Table
};

// The streams of the compound file in `bytes`, held in `held`. None is
// longer than the file: a longer one could only be sectors read over and
// over. libgsf meets the hostile file here, in the reader's confined child.
bool read_streams(std::string_view bytes, std::string &held, Streams &streams)
{
    GsfInput *input = gsf_input_memory_new(reinterpret_cast<const guint8 *>(bytes.data()),
                                           static_cast<gsf_off_t>(bytes.size()), FALSE);
    GsfInfile *ole = input ? gsf_infile_msole_new(input, nullptr) : nullptr;
    size_t starts[stream_count + 1] = {};
    bool present[stream_count] = {};
    for (size_t k = 0; k < stream_count; ++k) {
        starts[k] = held.size();
        GsfInput *stream = ole ? gsf_infile_child_by_name(ole, stream_names[k]) : nullptr;
        gsf_off_t size = stream ? gsf_input_size(stream) : -1;
        present[k] = size >= 0 && static_cast<uint64_t>(size) <= bytes.size();
        for (gsf_off_t done = 0; present[k] && done < size;) {
            size_t n = static_cast<size_t>(std::min<gsf_off_t>(size - done, 1 << 16));
            const guint8 *data = gsf_input_read(stream, n, nullptr);
            if (data == nullptr) {
                present[k] = false;
                held.resize(starts[k]);
                break;
            }
            held.append(reinterpret_cast<const char *>(data), n);
            done += static_cast<gsf_off_t>(n);
        }
        if (stream)
            g_object_unref(stream);
    }
    starts[stream_count] = held.size();
    if (ole)
        g_object_unref(ole);
    if (input)
        g_object_unref(input);
    std::string_view all = held, found[stream_count];
    for (size_t k = 0; k < stream_count; ++k)
        if (present[k])
            found[k] = all.substr(starts[k], starts[k + 1] - starts[k]);
    streams.word = found[0];
    streams.tables[0] = found[1];
    streams.tables[1] = found[2];
    streams.data = found[3];
    return !streams.word.empty();
}

// ---------------------------------------------------------------- FIB

// The FIB's pairs of offset and size in the table stream that are read here.
enum FcLcb {
    fc_stshf = 1,
    fc_plcffnd_ref = 2,
    fc_plcffnd_txt = 3,
    fc_plcf_bte_chpx = 12,
    fc_plcf_bte_papx = 13,
    fc_sttbf_ffn = 15,
    fc_clx = 33,
    fc_plcfend_ref = 46,
    fc_plcfend_txt = 47,
    fc_plf_lst = 73,
    fc_plf_lfo = 74,
};

// The lengths of the document's stories, in the order their text follows
// the main text: footnotes, headers, macros, comments, endnotes.
enum Story { story_main, story_footnotes, story_headers, story_macros, story_comments, story_endnotes, story_count };

struct Fib {
    std::string_view pairs; // FibRgFcLcb
    uint32_t ccp[story_count] = {};
    bool table1 = false;
};

bool fib_parse(std::string_view word, Fib &fib, std::string &why_not)
{
    if (le16(word, 0) != 0xA5EC) {
        why_not = "no Word document";
        return false;
    }
    if (le16(word, 2) < 0xC1) {
        why_not = "a Word 6 or 95 document";
        return false;
    }
    uint32_t flags = le16(word, 10);
    if (flags & 0x0100) {
        why_not = "an encrypted document";
        return false;
    }
    fib.table1 = (flags & 0x0200) != 0;
    size_t at = 32 + 2 + 2 * size_t{le16(word, 32)}; // past FibRgW97
    size_t longs = le16(word, at), longs_at = at + 2;
    // FibRgLw97: ccpText is its fourth value, the other stories' follow it.
    for (int story = 0; story < story_count; ++story)
        if (3 + static_cast<size_t>(story) < longs)
            fib.ccp[story] = le32(word, longs_at + 4 * (3 + static_cast<size_t>(story)));
    at = longs_at + 4 * longs;
    fib.pairs = slice(word, at + 2, 8 * size_t{le16(word, at)});
    return true;
}

// The bytes of the table stream that pair `index` points to, or nothing.
std::string_view fib_table_bytes(const Fib &fib, std::string_view table, int index)
{
    size_t at = 8 * static_cast<size_t>(index);
    if (at + 8 > fib.pairs.size())
        return {};
    return slice(table, le32(fib.pairs, at), le32(fib.pairs, at + 4));
}

// A PLC's count of data elements of `element_size` bytes after its n+1 CPs.
size_t plc_count(std::string_view plc, size_t element_size)
{
    return plc.size() < 4 ? 0 : (plc.size() - 4) / (4 + element_size);
}

// ---------------------------------------------------------------- text

struct Piece {
    uint32_t cp, end; // the characters [cp, end)
    uint32_t fc;      // where the first lies in WordDocument
    bool compressed;  // a byte a character (Windows-1252), else UTF-16LE
};

// The piece table, its pieces in order; false when there is none.
bool pieces_parse(std::string_view clx, std::vector<Piece> &pieces)
{
    size_t at = 0;
    while (byte_at(clx, at) == 1) // Prc: property sets that pieces may name
        at += 3 + le16(clx, at + 1);
    if (byte_at(clx, at) != 2)
        return false;
    std::string_view plc = slice(clx, at + 5, le32(clx, at + 1));
    size_t n = plc_count(plc, 8);
    for (size_t i = 0; i < n; ++i) {
        Piece piece{le32(plc, 4 * i), le32(plc, 4 * (i + 1)), 0, false};
        uint32_t fc = le32(plc, 4 * (n + 1) + 8 * i + 2);
        piece.compressed = (fc & 0x40000000) != 0;
        piece.fc = piece.compressed ? (fc & 0x3FFFFFFF) / 2 : fc & 0x3FFFFFFF;
        if (piece.end > piece.cp && (pieces.empty() || piece.cp >= pieces.back().end))
            pieces.push_back(piece);
    }
    return !pieces.empty();
}

// Windows-1252's letters at 0x80..0x9F, which compressed text means by them.
const uint16_t cp1252_high[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                  0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

// A code unit per CP, for the first `size` CPs; 0 where no piece puts one.
std::u16string text_of_pieces(std::string_view word, const std::vector<Piece> &pieces, uint32_t size)
{
    std::u16string text(size, u'\0');
    for (const Piece &piece : pieces) {
        if (piece.cp >= size)
            break;
        uint32_t count = std::min(piece.end, size) - piece.cp;
        std::string_view bytes = from(word, piece.fc);
        count = std::min<uint64_t>(count, piece.compressed ? bytes.size() : bytes.size() / 2);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t c = piece.compressed ? byte_at(bytes, i) : le16(bytes, 2 * size_t{i});
            if (piece.compressed && c >= 0x80 && c < 0xA0)
                c = cp1252_high[c - 0x80];
            text[piece.cp + i] = static_cast<char16_t>(c);
        }
    }
    return text;
}

// Where the character at `cp` lies in WordDocument, or UINT32_MAX;
// `hint` is the piece of the last look-up, where the next usually is.
uint32_t fc_of(const std::vector<Piece> &pieces, uint32_t cp, size_t &hint)
{
    if (hint >= pieces.size() || cp < pieces[hint].cp || cp >= pieces[hint].end) {
        auto after = std::upper_bound(pieces.begin(), pieces.end(), cp,
                                      [](uint32_t value, const Piece &p) { return value < p.cp; });
        if (after == pieces.begin())
            return UINT32_MAX;
        hint = static_cast<size_t>(after - pieces.begin()) - 1;
        if (cp >= pieces[hint].end)
            return UINT32_MAX;
    }
    const Piece &piece = pieces[hint];
    return piece.fc + (cp - piece.cp) * (piece.compressed ? 1 : 2);
}

// ---------------------------------------------------------------- properties

// The properties of the bytes [fc, end) of WordDocument, from an FKP page.
struct Run {
    uint32_t fc, end;
    std::string_view grpprl;
    uint32_t istd = 0; // paragraphs: the style
};

// The runs of the FKP pages that bin table `plc` names, sorted; each page
// read once, so that a table naming one page over and over costs no more.
std::vector<Run> runs_parse(std::string_view word, std::string_view plc, bool paragraphs)
{
    std::vector<Run> runs;
    std::vector<bool> seen(word.size() / 512 + 1, false);
    size_t n = plc_count(plc, 4);
    for (size_t i = 0; i < n; ++i) {
        uint32_t pn = le32(plc, 4 * (n + 1) + 4 * i) & 0x3FFFFF;
        std::string_view page = slice(word, uint64_t{pn} * 512, 512);
        if (page.empty() || seen[pn])
            continue;
        seen[pn] = true;
        size_t crun = byte_at(page, 511), entry = paragraphs ? 13 : 1;
        if (4 * (crun + 1) + entry * crun > 511)
            continue;
        for (size_t j = 0; j < crun; ++j) {
            Run run{le32(page, 4 * j), le32(page, 4 * (j + 1)), {}};
            size_t at = 2 * size_t{byte_at(page, 4 * (crun + 1) + entry * j)};
            if (run.end <= run.fc)
                continue;
            if (at != 0 && paragraphs) {
                size_t cb = byte_at(page, at);
                std::string_view papx = cb != 0 ? slice(page, at + 1, 2 * cb - 1)
                                                : slice(page, at + 2, 2 * size_t{byte_at(page, at + 1)});
                run.istd = le16(papx, 0);
                run.grpprl = from(papx, 2);
            } else if (at != 0) {
                run.grpprl = slice(page, at + 1, byte_at(page, at));
            }
            runs.push_back(run);
        }
    }
    std::stable_sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.fc < b.fc; });
    return runs;
}

// The run holding `fc`, or nullptr; `hint` as for fc_of.
const Run *run_at(const std::vector<Run> &runs, uint32_t fc, size_t &hint)
{
    if (hint < runs.size() && fc >= runs[hint].fc && fc < runs[hint].end)
        return &runs[hint];
    if (hint + 1 < runs.size() && fc >= runs[hint + 1].fc && fc < runs[hint + 1].end)
        return &runs[++hint];
    auto after = std::upper_bound(runs.begin(), runs.end(), fc,
                                  [](uint32_t value, const Run &r) { return value < r.fc; });
    if (after == runs.begin())
        return nullptr;
    hint = static_cast<size_t>(after - runs.begin()) - 1;
    return fc < runs[hint].end ? &runs[hint] : nullptr;
}

// Calls `each(sprm, operand)` for each property of `grpprl`, up to one
// that runs past its end.
template <typename Each> void sprms_each(std::string_view grpprl, Each each)
{
    size_t at = 0;
    while (at + 2 <= grpprl.size()) {
        uint32_t sprm = le16(grpprl, at);
        at += 2;
        static const size_t sizes[8] = {1, 1, 2, 4, 2, 2, 0, 3};
        size_t size = sizes[sprm >> 13];
        if (sprm == 0xD608) // sprmTDefTable counts its size in two bytes, less one
            size = le16(grpprl, at) + 1;
        else if (sprm == 0xC615 && byte_at(grpprl, at) == 255) // sprmPChgTabs' long form: stop
            return;
        else if (size == 0)
            size = byte_at(grpprl, at) + 1;
        if (size > grpprl.size() - at)
            return;
        each(sprm, grpprl.substr(at, size));
        at += size;
    }
}

int32_t signed16(std::string_view operand)
{
    return static_cast<int16_t>(le16(operand, 0));
}

// What a paragraph's properties say of its place: style, list, table.
struct ParaProps {
    uint32_t istd = 0;
    int ilfo = -1, ilvl = -1, outline = -1; // -1: not said
    bool in_table = false, row_end = false, inner_cell = false, inner_row_end = false;
    int32_t depth = 0; // table nesting (itap)
    int64_t huge = -1; // sprmPHugePapx: where in the Data stream the rest are
};

void para_sprms(std::string_view grpprl, ParaProps &props)
{
    sprms_each(grpprl, [&](uint32_t sprm, std::string_view op) {
        unsigned value = byte_at(op, 0);
        switch (sprm) {
        case 0x260A: props.ilvl = static_cast<int>(std::min(value, 8u)); break;
        case 0x460B: props.ilfo = signed16(op); break;
        case 0x2640: props.outline = static_cast<int>(value); break;
        case 0x2416: props.in_table = value != 0; break;
        case 0x2417: props.row_end = value != 0; break;
        case 0x244B: props.inner_cell = value != 0; break;
        case 0x244C: props.inner_row_end = value != 0; break;
        case 0x6649: props.depth = static_cast<int32_t>(std::min(le32(op, 0), 64u)); break;
        case 0x6646: props.huge = le32(op, 0); break;
        default: break;
        }
    });
}

// A paragraph's or style's properties, with those a large set keeps in
// the Data stream (which can point nowhere further).
void para_props(std::string_view grpprl, std::string_view data, ParaProps &props)
{
    para_sprms(grpprl, props);
    if (props.huge >= 0) {
        std::string_view prc = from(data, static_cast<uint64_t>(props.huge));
        props.huge = -1;
        para_sprms(slice(prc, 2, le16(prc, 0)), props);
        props.huge = -1;
    }
}

// What a character's properties say of whether it shows, and as what.
struct CharProps {
    bool hidden = false;   // sprmCFVanish
    bool deleted = false;  // sprmCFRMarkDel: a tracked deletion
    int32_t symbol = -1;   // sprmCSymbol: the character shown instead
    uint32_t symbol_font = 0;
};

CharProps char_props(std::string_view grpprl)
{
    CharProps props;
    sprms_each(grpprl, [&](uint32_t sprm, std::string_view op) {
        if (sprm == 0x083C)
            props.hidden = (byte_at(op, 0) & 1) != 0;
        else if (sprm == 0x0800)
            props.deleted = (byte_at(op, 0) & 1) != 0;
        else if (sprm == 0x6A09) {
            props.symbol_font = le16(op, 0);
            props.symbol = static_cast<int32_t>(le16(op, 2));
        }
    });
    return props;
}

// ---------------------------------------------------------------- styles

constexpr uint32_t no_style = 0x0FFF;

struct Style {
    bool defined = false;
    uint32_t sti = 0x0FFE, base = no_style;
    std::string name; // lower case
    ParaProps props;  // the paragraph properties it brings
};

std::vector<Style> styles_parse(std::string_view stsh, std::string_view data)
{
    std::vector<Style> styles;
    size_t stshi_size = le16(stsh, 0), count = le16(stsh, 2), base_size = le16(stsh, 4);
    size_t at = 2 + stshi_size;
    for (size_t i = 0; i < count && at + 2 <= stsh.size(); ++i) {
        std::string_view entry = slice(stsh, at + 2, le16(stsh, at));
        at += 2 + le16(stsh, at);
        Style style;
        if (entry.size() >= 10 && base_size >= 10) {
            style.defined = true;
            style.sti = le16(entry, 0) & 0x0FFF;
            style.base = le16(entry, 2) >> 4;
            size_t chars = le16(entry, base_size);
            style.name = ascii_lower(utf16_text(slice(entry, base_size + 2, 2 * chars)));
            // A paragraph style's first property set is its paragraphs'.
            size_t upx = base_size + 2 + 2 * chars + 2;
            if ((le16(entry, 2) & 0xF) == 1 && (le16(entry, 4) & 0xF) >= 1) {
                std::string_view papx = slice(entry, upx + 2, le16(entry, upx));
                para_props(from(papx, 2), data, style.props);
            }
        }
        styles.push_back(std::move(style));
    }
    return styles;
}

// How many based-on links a look-up follows (a loop ends here too).
constexpr int max_style_chain = 16;

// A paragraph's kind by its style, or what the style is based on: a
// built-in heading (sti 1..9), the title (sti 62), an outline level, or
// the kind its name makes.
BlockKind style_kind(const std::vector<Style> &styles, uint32_t istd)
{
    for (int hops = 0; hops < max_style_chain && istd < styles.size() && styles[istd].defined; ++hops) {
        const Style &style = styles[istd];
        if ((style.sti >= 1 && style.sti <= 9) || style.sti == 62 ||
            (style.props.outline >= 0 && style.props.outline <= 8))
            return BlockKind::heading;
        BlockKind kind = office_style_kind(style.name);
        if (kind != BlockKind::paragraph)
            return kind;
        istd = style.base;
    }
    return BlockKind::paragraph;
}

// The list a paragraph's style brings, where the paragraph says none.
void style_list(const std::vector<Style> &styles, ParaProps &props)
{
    uint32_t istd = props.istd;
    for (int hops = 0; hops < max_style_chain && istd < styles.size() && props.ilfo < 0; ++hops) {
        props.ilfo = styles[istd].props.ilfo;
        if (props.ilvl < 0)
            props.ilvl = styles[istd].props.ilvl;
        istd = styles[istd].base;
    }
}

// ---------------------------------------------------------------- lists

constexpr int max_levels = 9;

struct Level {
    bool numbered = true; // nfc 255: no marker, a plain paragraph
    ListStyle style = ListStyle::decimal;
    long start = 1;
};

struct ListDef {
    Level levels[max_levels];
    int count = max_levels; // a simple list has one level
};

// A list as a paragraph names it (LFO): its definition, and what it overrides.
struct ListUse {
    uint32_t lsid = 0;
    bool has_start[max_levels] = {}, has_level[max_levels] = {};
    long start[max_levels] = {};
    Level level[max_levels];
};

struct Lists {
    std::map<uint32_t, ListDef> defs; // by lsid
    std::vector<ListUse> uses;        // by ilfo - 1
    std::vector<ListCounters> counters;
};

long clamped(uint32_t value)
{
    return std::clamp<long>(static_cast<int32_t>(value), -1000000000, 1000000000);
}

// The LVL at `at`, moved past it; false when it runs past the end.
bool level_parse(std::string_view table, size_t &at, Level &level)
{
    std::string_view lvlf = slice(table, at, 28);
    if (lvlf.empty())
        return false;
    at += 28 + byte_at(lvlf, 24) + byte_at(lvlf, 25); // past its properties
    std::string_view number_text = slice(table, at + 2, 2 * size_t{le16(table, at)});
    if (at + 2 > table.size() || (number_text.empty() && le16(table, at) != 0))
        return false;
    at += 2 + number_text.size();
    level = Level{};
    level.start = clamped(le32(lvlf, 0));
    switch (byte_at(lvlf, 4)) {
    case 1: level.style = ListStyle::upper_roman; break;
    case 2: level.style = ListStyle::lower_roman; break;
    case 3: level.style = ListStyle::upper_alpha; break;
    case 4: level.style = ListStyle::lower_alpha; break;
    case 23: level.style = bullet_style(utf16_text(number_text)); break;
    case 255: level.numbered = false; break;
    default: break;
    }
    return true;
}

void lists_parse(std::string_view lst, std::string_view lfo, Lists &lists)
{
    size_t count = std::min<size_t>(le16(lst, 0), lst.size() / 28);
    size_t at = 2 + 28 * count; // the levels follow all the lists
    for (size_t i = 0; i < count; ++i) {
        ListDef def;
        def.count = (byte_at(lst, 2 + 28 * i + 26) & 1) ? 1 : max_levels;
        bool read = true;
        for (int l = 0; l < def.count && read; ++l)
            read = level_parse(lst, at, def.levels[l]);
        lists.defs.emplace(le32(lst, 2 + 28 * i), def);
        if (!read)
            break;
    }
    size_t uses = std::min<size_t>(le32(lfo, 0), lfo.size() / 16);
    at = 4 + 16 * uses; // each use's overrides follow all the uses
    for (size_t i = 0; i < uses; ++i) {
        ListUse use;
        use.lsid = le32(lfo, 4 + 16 * i);
        size_t overrides = std::min<size_t>(byte_at(lfo, 4 + 16 * i + 12), max_levels);
        at += 4;
        for (size_t j = 0; j < overrides && at + 8 <= lfo.size(); ++j) {
            uint32_t start = le32(lfo, at), flags = le32(lfo, at + 4);
            at += 8;
            size_t l = flags & 0xF;
            Level level;
            if ((flags & 0x20) && !level_parse(lfo, at, level))
                break;
            if (l >= max_levels)
                continue;
            use.has_start[l] = (flags & 0x10) != 0;
            use.start[l] = clamped(start);
            use.has_level[l] = (flags & 0x20) != 0;
            use.level[l] = level;
        }
        lists.uses.push_back(use);
    }
    lists.counters.resize(lists.uses.size());
}

// Makes `block` the next item of list `ilfo` at `ilvl`; false when there
// is no such list or it shows no marker.
bool list_item(Lists &lists, int ilfo, int ilvl, Block &block)
{
    if (ilfo <= 0 || static_cast<size_t>(ilfo) > lists.uses.size())
        return false;
    const ListUse &use = lists.uses[static_cast<size_t>(ilfo) - 1];
    int at = std::clamp(ilvl, 0, max_levels - 1);
    Level level;
    auto def = lists.defs.find(use.lsid);
    if (use.has_level[at])
        level = use.level[at];
    else if (def != lists.defs.end())
        level = def->second.levels[std::min(at, def->second.count - 1)];
    else
        level.style = ListStyle::bullet;
    if (!level.numbered)
        return false;
    block.kind = BlockKind::list_item;
    block.style = level.style;
    long start = use.has_start[at] ? use.start[at] : level.start;
    block.number = office_count(lists.counters[static_cast<size_t>(ilfo) - 1], at, start, -1);
    block.depth = at;
    return true;
}

// ---------------------------------------------------------------- fonts

// The fonts' names, lower case, by index (SttbfFfn).
std::vector<std::string> fonts_parse(std::string_view sttb)
{
    std::vector<std::string> fonts;
    size_t count = le16(sttb, 0), at = 4;
    for (size_t i = 0; i < count && at < sttb.size(); ++i) {
        std::string_view ffn = slice(sttb, at + 1, byte_at(sttb, at));
        at += 1 + byte_at(sttb, at);
        std::string_view name = from(ffn, 40);
        size_t end = 0;
        while (end + 1 < name.size() && le16(name, end) != 0)
            end += 2;
        fonts.push_back(ascii_lower(utf16_text(name.substr(0, end))));
    }
    return fonts;
}

// ---------------------------------------------------------------- the walk

struct Note {
    uint32_t ref;          // its reference's CP in the main text
    uint32_t from, to;     // its text's CPs
    bool endnote;
    std::string text;
};

// What the whole document holds, read once.
struct Word97 {
    std::string_view word, data;
    std::vector<Piece> pieces;
    std::u16string text;
    std::vector<Run> papx, chpx;
    std::vector<Style> styles;
    std::vector<std::string> fonts;
    Lists lists;
    std::vector<Note> notes; // by reference
    long footnotes_seen = 0, endnotes_seen = 0;
    std::vector<Block> endnote_blocks;
    size_t piece_hint = 0, papx_hint = 0, chpx_hint = 0;
};

// A walk over one story's text: the paragraph being gathered, the table
// row, open fields.
struct Walk {
    bool in_notes = false;
    std::string text;
    std::vector<Block> after; // what follows the paragraph: its footnotes
    std::vector<Block> cell;  // the paragraphs of the cell being read
    std::vector<std::string> cells;
    std::vector<Block> row_notes;
    std::vector<bool> fields; // open fields: true while in the instruction
    int fields_hidden = 0;
    size_t next_note = 0;
};

ParaProps para_props_at(Word97 &w, uint32_t cp)
{
    ParaProps props;
    uint32_t fc = fc_of(w.pieces, cp, w.piece_hint);
    if (const Run *run = fc == UINT32_MAX ? nullptr : run_at(w.papx, fc, w.papx_hint)) {
        props.istd = run->istd;
        para_props(run->grpprl, w.data, props);
    }
    return props;
}

// The properties of the character at `cp`, and `until`, the CP where
// they may change: the end of its piece or of its run.
CharProps char_props_at(Word97 &w, uint32_t cp, uint32_t &until)
{
    until = cp + 1;
    uint32_t fc = fc_of(w.pieces, cp, w.piece_hint);
    const Run *run = fc == UINT32_MAX ? nullptr : run_at(w.chpx, fc, w.chpx_hint);
    if (run == nullptr)
        return CharProps{};
    const Piece &piece = w.pieces[w.piece_hint];
    uint32_t run_chars = (run->end - fc) / (piece.compressed ? 1 : 2);
    until = std::max(cp + 1, std::min<uint32_t>(piece.end, cp + run_chars));
    return char_props(run->grpprl);
}

void flush_row(Walk &walk, std::vector<Block> &out)
{
    if (!walk.cell.empty())
        walk.cells.push_back(office_cell_text(walk.cell, walk.row_notes));
    if (!walk.cells.empty())
        append_table_row(out, std::move(walk.cells));
    walk.cells.clear();
    office_append(out, Block{}, walk.row_notes);
}

// A paragraph ends at the mark at `cp`: 0x0D, a cell's 0x07, or 0x0C.
void paragraph_end(Word97 &w, Walk &walk, uint32_t cp, char16_t mark, std::vector<Block> &out)
{
    // A field's instruction never runs over a paragraph's end; its result may.
    std::erase(walk.fields, true);
    walk.fields_hidden = 0;
    if (mark == 0x0C && ascii_blank(walk.text))
        return;
    ParaProps props = para_props_at(w, cp);
    style_list(w.styles, props);
    Block block;
    block.kind = props.outline >= 0 && props.outline <= 8 ? BlockKind::heading : style_kind(w.styles, props.istd);
    if (block.kind == BlockKind::paragraph && !walk.in_notes)
        list_item(w.lists, props.ilfo, props.ilvl, block);
    block.text = std::move(walk.text);
    walk.text.clear();
    if (props.inner_row_end && mark != 0x07) {
        office_append(walk.cell, Block{}, walk.after); // a nested table's row: its cells stay in the cell
        return;
    }
    if (mark == 0x07 && props.row_end) {
        office_append(walk.cell, std::move(block), walk.after);
        flush_row(walk, out);
        return;
    }
    if (mark == 0x07 || props.in_table || props.depth > 0) {
        office_append(walk.cell, std::move(block), walk.after);
        if (mark == 0x07)
            walk.cells.push_back(office_cell_text(walk.cell, walk.row_notes));
        return;
    }
    if (!walk.cells.empty() || !walk.cell.empty())
        flush_row(walk, out);
    office_append(out, std::move(block), walk.after);
}

// The reference at `cp` to note `note`: its label in the text, its block
// after the paragraph (footnotes) or at the end (endnotes).
void note_reference(Word97 &w, Walk &walk, Note &note)
{
    long n = note.endnote ? ++w.endnotes_seen : ++w.footnotes_seen;
    Block block;
    block.kind = BlockKind::note;
    block.label = note.endnote ? endnote_label(n) : std::to_string(n);
    block.text = std::move(note.text);
    walk.text += "[" + block.label + "]";
    (note.endnote ? w.endnote_blocks : walk.after).push_back(std::move(block));
}

void field_char(Walk &walk, char16_t c)
{
    if (c == 0x13) {
        walk.fields.push_back(true);
        ++walk.fields_hidden;
    } else if (c == 0x14) {
        if (!walk.fields.empty() && walk.fields.back()) {
            walk.fields.back() = false;
            --walk.fields_hidden;
        }
    } else if (!walk.fields.empty()) {
        if (walk.fields.back())
            --walk.fields_hidden;
        walk.fields.pop_back();
    }
}

// A symbol font's character: Word keeps them at U+F000 and up; only the
// Symbol font's have a meaning known here.
void append_symbol(const Word97 &w, const CharProps &props, std::string &text)
{
    uint32_t c = static_cast<uint32_t>(props.symbol);
    if (c < 0xF000)
        append_utf8(text, c);
    else if (c <= 0xF0FF && props.symbol_font < w.fonts.size() && w.fonts[props.symbol_font] == "symbol")
        text += symbol_font_text(c - 0xF000);
}

// One character of the text, shown: controls dropped, pairs joined.
void append_character(const Word97 &w, uint32_t &cp, uint32_t to, std::string &text)
{
    uint32_t c = w.text[cp];
    if (c == 0x09)
        text += '\t';
    else if (c == 0x0B || c == 0x0E)
        text += ' ';
    else if (c == 0x1E)
        text += '-';
    else if (c < 0x20 || (c >= 0x80 && c < 0xA0))
        return;
    else if (c >= 0xD800 && c < 0xDC00 && cp + 1 < to && w.text[cp + 1] >= 0xDC00 && w.text[cp + 1] < 0xE000)
        append_utf8(text, 0x10000 + ((c - 0xD800) << 10) + (w.text[++cp] - 0xDC00u));
    else
        append_utf8(text, c); // a lone half becomes U+FFFD there
}

// The blocks of the text [from, to).
void walk_range(Word97 &w, Walk &walk, uint32_t from, uint32_t to, std::vector<Block> &out)
{
    to = std::min<uint32_t>(to, static_cast<uint32_t>(w.text.size()));
    CharProps props;
    uint32_t props_until = from;
    for (uint32_t cp = from; cp < to; ++cp) {
        char16_t c = w.text[cp];
        while (!walk.in_notes && walk.next_note < w.notes.size() && w.notes[walk.next_note].ref < cp)
            ++walk.next_note;
        bool reference = !walk.in_notes && walk.next_note < w.notes.size() && w.notes[walk.next_note].ref == cp;
        if (c == 0x13 || c == 0x14 || c == 0x15) {
            field_char(walk, c);
        } else if (c == 0x0D || c == 0x07 || c == 0x0C) {
            paragraph_end(w, walk, cp, c, out);
        } else if (walk.fields_hidden == 0) {
            if (cp >= props_until && !w.chpx.empty())
                props = char_props_at(w, cp, props_until);
            if (props.hidden || props.deleted)
                continue;
            if (reference)
                note_reference(w, walk, w.notes[walk.next_note++]);
            else if (props.symbol >= 0)
                append_symbol(w, props, walk.text);
            else
                append_character(w, cp, to, walk.text);
        }
    }
    // A story that ends without its mark still ends its paragraph and row.
    if (!ascii_blank(walk.text))
        paragraph_end(w, walk, to, 0x0D, out);
    flush_row(walk, out);
    office_append(out, Block{}, walk.after);
}

// The notes of one kind: references from `refs`, texts from `texts`,
// which count from `base`. Their texts follow each other: one that would
// go back over another's is none, so that no text is read twice.
void notes_parse(std::string_view refs, std::string_view texts, uint32_t base, bool endnote,
                 std::vector<Note> &notes)
{
    size_t cps = texts.size() / 4;
    size_t n = cps < 2 ? 0 : std::min(plc_count(refs, 2), cps - 1);
    uint64_t read_to = base;
    for (size_t i = 0; i < n; ++i) {
        uint64_t start = uint64_t{base} + le32(texts, 4 * i), end = uint64_t{base} + le32(texts, 4 * (i + 1));
        if (end > UINT32_MAX || end < start || start < read_to)
            continue;
        read_to = end;
        notes.push_back({le32(refs, 4 * i), static_cast<uint32_t>(start), static_cast<uint32_t>(end), endnote, {}});
    }
}

// Each note's text, read as the paragraphs of a story of its own.
void notes_read(Word97 &w)
{
    for (Note &note : w.notes) {
        Walk walk;
        walk.in_notes = true;
        std::vector<Block> blocks;
        walk_range(w, walk, note.from, note.to, blocks);
        note.text = blocks_text(blocks);
    }
    std::stable_sort(w.notes.begin(), w.notes.end(), [](const Note &a, const Note &b) { return a.ref < b.ref; });
}

} // namespace

bool word97_read(std::string_view bytes, Document &doc, std::string &why_not)
{
    std::string held;
    Streams streams;
    if (!read_streams(bytes, held, streams)) {
        why_not = "no WordDocument stream";
        return false;
    }
    Fib fib;
    if (!fib_parse(streams.word, fib, why_not))
        return false;
    std::string_view table = streams.tables[fib.table1 ? 1 : 0];
    Word97 w;
    w.word = streams.word;
    w.data = streams.data;
    if (!pieces_parse(fib_table_bytes(fib, table, fc_clx), w.pieces)) {
        why_not = "no piece table";
        return false;
    }
    // Stories up to the endnotes; no more characters than the stream has bytes.
    uint64_t size = 0;
    for (uint32_t ccp : fib.ccp)
        size += ccp;
    w.text = text_of_pieces(w.word, w.pieces, static_cast<uint32_t>(std::min<uint64_t>(size, w.word.size())));
    w.papx = runs_parse(w.word, fib_table_bytes(fib, table, fc_plcf_bte_papx), true);
    w.chpx = runs_parse(w.word, fib_table_bytes(fib, table, fc_plcf_bte_chpx), false);
    w.styles = styles_parse(fib_table_bytes(fib, table, fc_stshf), w.data);
    w.fonts = fonts_parse(fib_table_bytes(fib, table, fc_sttbf_ffn));
    std::string_view lst = fib_table_bytes(fib, table, fc_plf_lst), lfo = fib_table_bytes(fib, table, fc_plf_lfo);
    // The list levels follow the lists, past the size the FIB gives them.
    if (!lst.empty())
        lst = from(table, static_cast<size_t>(lst.data() - table.data()));
    if (!lfo.empty())
        lfo = from(table, static_cast<size_t>(lfo.data() - table.data()));
    lists_parse(lst, lfo, w.lists);
    uint64_t endnotes = 0;
    for (int story = 0; story < story_endnotes; ++story)
        endnotes += fib.ccp[story];
    notes_parse(fib_table_bytes(fib, table, fc_plcffnd_ref), fib_table_bytes(fib, table, fc_plcffnd_txt),
                fib.ccp[story_main], false, w.notes);
    if (endnotes <= UINT32_MAX)
        notes_parse(fib_table_bytes(fib, table, fc_plcfend_ref), fib_table_bytes(fib, table, fc_plcfend_txt),
                    static_cast<uint32_t>(endnotes), true, w.notes);
    notes_read(w);
    Walk walk;
    walk_range(w, walk, 0, fib.ccp[story_main], doc.blocks);
    for (Block &note : w.endnote_blocks)
        doc.blocks.push_back(std::move(note));
    return true;
}
