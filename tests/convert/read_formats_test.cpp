// The readers of Word, MOBI, DjVu, CHM, PostScript and binary files, on
// samples made here: a Word 97 file, a PalmDOC MOBI, a KF8 book, DjVu
// pages with a text layer and a CHM book are written byte by byte;
// PostScript is text.
// The notices come with a PATH that lacks the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <csignal>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/document.h"
#include "convert/formats.h"
#include "convert/readers.h"
#include "convert/xml.h"
#include "convert/books/books.h"
#include "convert/page_rows.h"
#include "convert/confine.h"
#include "convert/process.h"
#include "convert/office/word97.h"
#include "dump.h"
#include "helpers.h"
#include "zip_maker.h"

using namespace harness;

namespace {

// ---------------------------------------------------------------- bytes

void put16le(std::string &b, size_t at, uint32_t v)
{
    b[at] = static_cast<char>(v & 0xff);
    b[at + 1] = static_cast<char>((v >> 8) & 0xff);
}

void put32le(std::string &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void append_be(std::string &b, uint32_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b += static_cast<char>((v >> (8 * i)) & 0xff);
}

// A number in the 7-bit groups of MOBI indexes, high group first, the
// last marked by bit 7.
void append_varlen(std::string &b, uint32_t v)
{
    int groups = 1;
    while (groups < 4 && (v >> (7 * groups)) != 0)
        ++groups;
    for (int i = groups - 1; i >= 0; --i)
        b += static_cast<char>(((v >> (7 * i)) & 0x7f) | (i == 0 ? 0x80 : 0));
}

void append_le(std::string &b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b += static_cast<char>((v >> (8 * i)) & 0xff);
}

// ---------------------------------------------------------------- Word 97

// A Word 97 file holding `text` (paragraphs ended by "\r", in Windows-1252)
// in one compound file: a header, a FAT sector, a directory sector, then
// the WordDocument and 1Table streams of 4096 bytes each (so that neither
// is in the mini stream). The table stream has a stylesheet naming no
// styles and, unless without_piece_table, the piece table the text is
// read by. `stream` names the main stream ("WordDocument").
std::string make_doc(const std::string &text, bool without_piece_table = false,
                     const char *stream = "WordDocument")
{
    const uint32_t end = 0xFFFFFFFE, free_sector = 0xFFFFFFFF, none = 0xFFFFFFFF;
    const uint32_t fc = 0x400; // where the text starts in WordDocument
    std::string word(4096, '\0'), table(4096, '\0');
    put16le(word, 0, 0xA5EC);      // wIdent
    put16le(word, 2, 0x00C1);      // nFib: Word 97
    put16le(word, 6, 0x0409);      // lid
    put16le(word, 10, 0x0200);     // fWhichTblStm: 1Table
    put16le(word, 12, 0x00BF);     // nFibBack
    put32le(word, 24, fc);         // fcMin
    put32le(word, 28, fc + static_cast<uint32_t>(text.size())); // fcMac
    put16le(word, 32, 14);         // csw
    put16le(word, 62, 22);         // clw
    put32le(word, 64, 4096);       // cbMac
    put32le(word, 76, static_cast<uint32_t>(text.size())); // ccpText
    put16le(word, 152, 0x5D);      // cbRgFcLcb
    word.replace(fc, text.size(), text);
    // The piece table: one piece of 8-bit text at fc.
    std::string clx(21, '\0');
    clx[0] = 2;
    put32le(clx, 1, 16);
    put32le(clx, 9, static_cast<uint32_t>(text.size()));
    put32le(clx, 15, (fc * 2) | 0x40000000);
    table.replace(0, clx.size(), clx);
    put32le(word, 0x1A2, 0);                                        // fcClx
    put32le(word, 0x1A6, without_piece_table ? 0 : static_cast<uint32_t>(clx.size())); // lcbClx
    // The stylesheet: an 18-byte STSHI and no styles.
    put16le(table, 0x100, 18);
    put16le(table, 0x104, 10);
    put32le(word, 0xA2, 0x100); // fcStshf
    put32le(word, 0xA6, 20);    // lcbStshf

    std::string out(512 * 19, '\0');
    out.replace(0, 8, "\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1");
    put16le(out, 24, 0x3E);
    put16le(out, 26, 3);
    put16le(out, 28, 0xFFFE);
    put16le(out, 30, 9);
    put16le(out, 32, 6);
    put32le(out, 44, 1);    // FAT sectors
    put32le(out, 48, 1);    // first directory sector
    put32le(out, 56, 4096); // mini stream cutoff
    put32le(out, 60, end);  // no mini FAT
    put32le(out, 68, end);  // no DIFAT sectors
    put32le(out, 76, 0);    // the FAT is sector 0
    for (int i = 1; i < 109; ++i)
        put32le(out, 76 + 4 * static_cast<size_t>(i), free_sector);
    const size_t fat = 512;
    for (size_t i = 0; i < 128; ++i)
        put32le(out, fat + 4 * i, free_sector);
    put32le(out, fat, 0xFFFFFFFD);
    put32le(out, fat + 4, end);
    for (uint32_t s = 2; s < 18; ++s)
        put32le(out, fat + 4 * s, s == 9 || s == 17 ? end : s + 1);
    auto entry = [&](size_t id, const char *name, int type, uint32_t left, uint32_t child, uint32_t start,
                     uint32_t size) {
        size_t at = 1024 + 128 * id;
        size_t n = 0;
        for (; name[n]; ++n)
            put16le(out, at + 2 * n, static_cast<unsigned char>(name[n]));
        put16le(out, at + 64, n ? static_cast<uint32_t>(2 * (n + 1)) : 0);
        out[at + 66] = static_cast<char>(type);
        out[at + 67] = 1;
        put32le(out, at + 68, left);
        put32le(out, at + 72, none);
        put32le(out, at + 76, child);
        put32le(out, at + 116, start);
        put32le(out, at + 120, size);
    };
    entry(0, "Root Entry", 5, none, 1, end, 0);
    entry(1, stream, 2, 2, none, 2, 4096);
    entry(2, "1Table", 2, none, none, 10, 4096);
    entry(3, "", 0, none, none, 0, 0);
    out.replace(512 * 3, 4096, word);
    out.replace(512 * 11, 4096, table);
    return out;
}

// ---------------------------------------------------------------- MOBI

// What a KF8 book has after its text records, and where in them the MOBI
// header finds its indexes and FDST, counted from the first of them.
struct Kf8Records {
    std::vector<std::string> records;
    uint32_t fragments = 0, skeleton = 0, fdst = 0, flows = 0;
};

struct MobiSample {
    std::string type = "BOOKMOBI"; // or "TEXtREAd" for PalmDOC
    std::string text;              // HTML for MOBI, plain text for PalmDOC
    uint16_t encryption = 0;
    uint32_t encoding = 65001;     // UTF-8; 1252 for Windows-1252
    const Kf8Records *kf8 = nullptr; // a file version 8 header and these records
};

// A PDB database: its header, the record list, record 0 (a PalmDOC header
// with compression 1, none, then for MOBI a MOBI header and the full
// name), the text in records of 4096 bytes, then any KF8 records.
std::string make_mobi(const MobiSample &sample)
{
    std::vector<std::string> records;
    const size_t record_size = 4096;
    for (size_t at = 0; at < sample.text.size(); at += record_size)
        records.push_back(sample.text.substr(at, record_size));
    const uint32_t text_records = static_cast<uint32_t>(records.size());

    std::string r0;
    append_be(r0, 1, 2); // compression: none
    append_be(r0, 0, 2);
    append_be(r0, static_cast<uint32_t>(sample.text.size()), 4);
    append_be(r0, text_records, 2);
    append_be(r0, record_size, 2);
    append_be(r0, sample.encryption, 2);
    append_be(r0, 0, 2);
    if (sample.type == "BOOKMOBI") {
        const Kf8Records *kf8 = sample.kf8;
        const uint32_t header_length = kf8 ? 264 : 232, unset = 0xFFFFFFFF;
        const uint32_t version = kf8 ? 8 : 6, after_text = text_records + 1;
        const std::string name = "Sample Book";
        std::string h;
        h += "MOBI";
        append_be(h, header_length, 4);
        append_be(h, 2, 4);               // mobi type: book
        append_be(h, sample.encoding, 4); // text encoding
        append_be(h, 1234, 4);            // uid
        append_be(h, version, 4);         // file version
        for (int i = 0; i < 10; ++i)      // orth, infl, names, keys, extra 0-5
            append_be(h, unset, 4);
        append_be(h, after_text, 4);                           // first non-book record
        append_be(h, 16 + header_length, 4);                   // full name offset
        append_be(h, static_cast<uint32_t>(name.size()), 4);   // full name length
        append_be(h, 9, 4);                                    // locale
        append_be(h, 0, 4);
        append_be(h, 0, 4);
        append_be(h, version, 4); // min version
        append_be(h, unset, 4); // first image
        append_be(h, 0, 4);     // huff record
        append_be(h, 0, 4);
        append_be(h, 0, 4);     // datp
        append_be(h, 0, 4);
        append_be(h, 0, 4);     // exth flags: none
        h.append(32, '\0');
        append_be(h, unset, 4); // unknown6
        append_be(h, unset, 4); // drm offset
        append_be(h, 0, 4);
        append_be(h, 0, 4);
        append_be(h, 0, 4);
        h.append(8, '\0');
        if (kf8) {
            append_be(h, after_text + kf8->fdst, 4);
        } else {
            append_be(h, 1, 2);            // first text record
            append_be(h, text_records, 2); // last text record
        }
        append_be(h, kf8 ? kf8->flows : 1, 4); // FDST sections
        append_be(h, unset, 4); // fcis
        append_be(h, 0, 4);
        append_be(h, unset, 4); // flis
        append_be(h, 0, 4);
        h.append(8, '\0');
        append_be(h, unset, 4); // srcs
        append_be(h, 0, 4);
        h.append(8, '\xff');
        append_be(h, 0, 2);
        append_be(h, 0, 2);     // extra flags: no trailing entries
        append_be(h, unset, 4); // ncx
        if (kf8) {
            append_be(h, after_text + kf8->fragments, 4);
            append_be(h, after_text + kf8->skeleton, 4);
            h.append(24, '\xff'); // datp, guide, unknown
        }
        r0 += h;
        r0 += name;
        r0.append(4, '\0');
    }
    records.insert(records.begin(), r0);
    if (sample.kf8)
        records.insert(records.end(), sample.kf8->records.begin(), sample.kf8->records.end());

    std::string out(32, '\0');
    out.replace(0, 11, "Sample_Book");
    append_be(out, 0, 2);
    append_be(out, 0, 2);
    for (int i = 0; i < 6; ++i)
        append_be(out, 0, 4);
    out += sample.type;
    append_be(out, 0, 4); // uid seed
    append_be(out, 0, 4);
    append_be(out, static_cast<uint32_t>(records.size()), 2);
    size_t offset = out.size() + 8 * records.size() + 2;
    for (size_t i = 0; i < records.size(); ++i) {
        append_be(out, static_cast<uint32_t>(offset), 4);
        append_be(out, static_cast<uint32_t>(2 * i), 4);
        offset += records[i].size();
    }
    out.append(2, '\0');
    for (const std::string &r : records)
        out += r;
    return out;
}

// An index of a KF8 book: a first INDX record whose TAGX says which tags
// an entry has (each one bit of its control byte, each tag's values
// numbers of 7-bit groups), then one INDX record with the entries and the
// IDXT list of where each starts.
struct IndexTag {
    uint8_t tag, values;
};

std::vector<std::string> make_index(const std::vector<IndexTag> &tags,
                                    const std::vector<std::pair<std::string, std::vector<uint32_t>>> &entries,
                                    uint32_t cncx_records)
{
    auto header = [&](uint32_t idxt_at, uint32_t count) {
        std::string h = "INDX";
        append_be(h, 56, 4); // header length
        append_be(h, 0, 4);
        append_be(h, 0, 4); // an ordinary index
        append_be(h, 0, 4);
        append_be(h, idxt_at, 4);
        append_be(h, count, 4);
        append_be(h, 65001, 4);
        append_be(h, 0, 4);
        append_be(h, static_cast<uint32_t>(entries.size()), 4);
        h.append(12, '\0'); // no ORDT, no ligatures
        append_be(h, cncx_records, 4);
        return h;
    };
    std::string meta = header(0, 1) + "TAGX"; // one record of entries
    append_be(meta, static_cast<uint32_t>(12 + 4 * tags.size() + 4), 4);
    append_be(meta, 1, 4); // control bytes
    uint8_t bit = 1, control = 0;
    for (const IndexTag &t : tags) {
        meta += {static_cast<char>(t.tag), static_cast<char>(t.values), static_cast<char>(bit), '\0'};
        control |= bit;
        bit <<= 1;
    }
    meta += std::string("\0\0\0\1", 4); // the end of the control byte's tags
    std::string body, idxt = "IDXT";
    for (const auto &[label, values] : entries) {
        append_be(idxt, static_cast<uint32_t>(56 + body.size()), 2);
        body += static_cast<char>(label.size()) + label + static_cast<char>(control);
        for (uint32_t v : values)
            append_varlen(body, v);
    }
    return {meta, header(static_cast<uint32_t>(56 + body.size()), static_cast<uint32_t>(entries.size())) + body + idxt};
}

// A KF8 book (AZW3) of one XHTML file per part, each a skeleton with the
// part as its one fragment, inserted into the empty body. The text is the
// skeletons and fragments in order, then a stylesheet as a second flow:
// libmobi reads the FDST only of a book with two flows or more.
std::string make_kf8(const std::vector<std::string> &parts)
{
    auto ten_digits = [](size_t v) {
        std::string d = std::to_string(v);
        return std::string(10 - d.size(), '0') + d;
    };
    std::string text, cncx;
    std::vector<std::pair<std::string, std::vector<uint32_t>>> skeletons, fragments;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string aid = std::to_string(i);
        std::string skeleton = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html xmlns=\"http://www.w3.org/1999/xhtml\">"
                               "<head><link href=\"kindle:flow:0001?mime=text/css\" rel=\"stylesheet\" type=\"text/css\"/>"
                               "</head><body aid=\"" + aid + "\"></body></html>";
        const auto at = static_cast<uint32_t>(text.size());
        const auto insert = at + static_cast<uint32_t>(skeleton.find("</body>"));
        const auto length = static_cast<uint32_t>(skeleton.size()), cncx_at = static_cast<uint32_t>(cncx.size());
        // A skeleton's count of fragments, place and length; a fragment is
        // named by where it goes in the text, then come its selector (in the
        // CNCX record), file, sequence number, start past the skeleton and length.
        skeletons.push_back({"SKEL" + ten_digits(i), {1, at, length}});
        const auto file = static_cast<uint32_t>(i), size = static_cast<uint32_t>(parts[i].size());
        fragments.push_back({ten_digits(insert), {cncx_at, file, file, 0, size}});
        const std::string selector = "P-//*[@aid='" + aid + "']";
        append_varlen(cncx, static_cast<uint32_t>(selector.size()));
        cncx += selector;
        text += skeleton + parts[i];
    }
    const auto html = static_cast<uint32_t>(text.size());
    text += "p { margin: 0 }";
    Kf8Records kf8;
    kf8.records = make_index({{2, 1}, {3, 1}, {4, 1}, {6, 2}}, fragments, 1);
    kf8.records.push_back(cncx); // right after the records of its index
    kf8.skeleton = static_cast<uint32_t>(kf8.records.size());
    for (const std::string &r : make_index({{1, 1}, {6, 2}}, skeletons, 0))
        kf8.records.push_back(r);
    // Where each flow starts and ends: the XHTML, then the stylesheet.
    kf8.fdst = static_cast<uint32_t>(kf8.records.size());
    kf8.flows = 2;
    std::string fdst = "FDST";
    append_be(fdst, 12, 4);
    append_be(fdst, kf8.flows, 4);
    for (uint32_t v : {0u, html, html, static_cast<uint32_t>(text.size())})
        append_be(fdst, v, 4);
    kf8.records.push_back(fdst);
    return make_mobi({"BOOKMOBI", text, 0, 65001, &kf8});
}

// ---------------------------------------------------------------- DjVu

// A zone of a text layer; (x0, y0) is its lower left corner.
struct Zone {
    int type; // 1 page, 2 column, 3 region, 4 paragraph, 5 line, 6 word
    int x0, y0, x1, y1;
    std::string text; // a line's or word's text
    std::vector<Zone> children;
    int start = 0, length = 0; // filled in by layout
};

Zone line_zone(int x0, int y0, int x1, int y1, const std::string &text)
{
    return Zone{5, x0, y0, x1, y1, text, {}};
}

Zone para_zone(std::vector<Zone> lines)
{
    Zone z{4, 1 << 30, 1 << 30, 0, 0, "", std::move(lines)};
    for (const Zone &l : z.children) {
        z.x0 = std::min(z.x0, l.x0);
        z.y0 = std::min(z.y0, l.y0);
        z.x1 = std::max(z.x1, l.x1);
        z.y1 = std::max(z.y1, l.y1);
    }
    return z;
}

// Gives every zone its place in the page's text, its separator after it.
void lay_out_text(Zone &z, std::string &text)
{
    z.start = static_cast<int>(text.size());
    if (z.children.empty())
        text += z.text;
    for (Zone &child : z.children)
        lay_out_text(child, text);
    if (z.type == 5)
        text += '\n';
    else if (z.type == 4)
        text += '\037';
    z.length = static_cast<int>(text.size()) - z.start;
}

// A zone as the format stores it: its box and text relative to its
// previous sibling, or else to its parent.
void encode_zone(std::string &out, const Zone &z, const Zone *parent, const Zone *prev)
{
    int x = z.x0, y = z.y0, width = z.x1 - z.x0, height = z.y1 - z.y0, start = z.start;
    if (prev) {
        if (z.type == 1 || z.type == 4 || z.type == 5) {
            x -= prev->x0;
            y = prev->y0 - (y + height);
        } else {
            x -= prev->x1;
            y -= prev->y0;
        }
        start -= prev->start + prev->length;
    } else if (parent) {
        x -= parent->x0;
        y = parent->y1 - (y + height);
        start -= parent->start;
    }
    out += static_cast<char>(z.type);
    for (int v : {x, y, width, height, start})
        append_be(out, static_cast<uint32_t>(0x8000 + v), 2);
    append_be(out, static_cast<uint32_t>(z.length), 3);
    append_be(out, static_cast<uint32_t>(z.children.size()), 3);
    const Zone *previous = nullptr;
    for (const Zone &child : z.children) {
        encode_zone(out, child, &z, previous);
        previous = &child;
    }
}

void append_chunk(std::string &out, const std::string &id, const std::string &data)
{
    out += id;
    append_be(out, static_cast<uint32_t>(data.size()), 4);
    out += data;
    if (data.size() % 2)
        out += '\0';
}

const int page_width = 2550, page_height = 3300;

// A one-page DjVu file: an INFO chunk and, when `zones` is given, a text
// layer in a TXTa chunk (uncompressed). `coarse` instead holds a layer
// whose page zone has all the text, and no zones below it.
std::string make_djvu(const std::vector<Zone> *zones, const std::string *coarse = nullptr)
{
    std::string info;
    append_be(info, page_width, 2);
    append_be(info, page_height, 2);
    info += '\x18';
    info += '\0';
    append_le(info, 300, 2); // dpi
    info += '\x16';           // gamma
    info += '\x01';
    std::string body = "DJVU";
    append_chunk(body, "INFO", info);
    if (zones || coarse) {
        Zone page{1, 0, 0, page_width, page_height, coarse ? *coarse : "", zones ? *zones : std::vector<Zone>{}};
        std::string text, layer;
        lay_out_text(page, text);
        append_be(layer, static_cast<uint32_t>(text.size()), 3);
        layer += text;
        layer += '\x01';
        encode_zone(layer, page, nullptr, nullptr);
        append_chunk(body, "TXTa", layer);
    }
    std::string out = "AT&TFORM";
    append_be(out, static_cast<uint32_t>(body.size()), 4);
    return out + body;
}

// Pages bundled into one book by djvm, or "" when it is not installed.
std::string make_djvu_book(const std::vector<std::string> &pages)
{
    std::string djvm = harness::find_program("djvm");
    if (djvm.empty())
        return "";
    TempDir dir;
    std::string command = "'" + djvm + "' -c '" + dir.path + "/book.djvu'";
    for (size_t i = 0; i < pages.size(); ++i) {
        std::string page = dir.path + "/p" + std::to_string(i) + ".djvu";
        write_file(page, pages[i]);
        command += " '" + page + "'";
    }
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        return "";
    return read_file(dir.path + "/book.djvu");
}

// ---------------------------------------------------------------- CHM

void append_encint(std::string &out, uint64_t v)
{
    std::string bytes(1, static_cast<char>(v & 0x7f));
    while (v >>= 7)
        bytes.insert(bytes.begin(), static_cast<char>(0x80 | (v & 0x7f)));
    out += bytes;
}

// A CHM file with its members uncompressed (section 0): an ITSF header, an
// ITSP directory header, one PMGL block listing the members in the order
// given, then their contents.
std::string make_chm(const std::vector<std::pair<std::string, std::string>> &members)
{
    const uint32_t block_len = 4096;
    std::string entries, content;
    for (const auto &[path, data] : members) {
        append_encint(entries, path.size());
        entries += path;
        append_encint(entries, 0);
        append_encint(entries, content.size());
        append_encint(entries, data.size());
        content += data;
    }
    std::string block = "PMGL";
    append_le(block, block_len - 0x14 - entries.size(), 4); // free space
    append_le(block, 0, 4);
    append_le(block, 0xFFFFFFFF, 4); // previous block
    append_le(block, 0xFFFFFFFF, 4); // next block
    block += entries;
    block.resize(block_len, '\0');

    std::string itsp = "ITSP";
    append_le(itsp, 1, 4);
    append_le(itsp, 0x54, 4);
    append_le(itsp, 0x0a, 4);
    append_le(itsp, block_len, 4);
    append_le(itsp, 2, 4);          // quick reference density
    append_le(itsp, 1, 4);          // index depth
    append_le(itsp, 0xFFFFFFFF, 4); // index root: none, one PMGL block
    append_le(itsp, 0, 4);          // first PMGL block
    append_le(itsp, 0xFFFFFFFF, 4);
    append_le(itsp, 1, 4);          // blocks
    append_le(itsp, 0xFFFFFFFF, 4);
    append_le(itsp, 0x409, 4);
    itsp.append(32, '\0');

    const uint64_t dir_offset = 0x60, dir_len = itsp.size() + block.size();
    std::string out = "ITSF";
    append_le(out, 3, 4);
    append_le(out, 0x60, 4);
    append_le(out, 1, 4);
    append_le(out, 0, 4);
    append_le(out, 0x409, 4);
    out.append(32, '\0');
    append_le(out, 0, 8);
    append_le(out, 0, 8);
    append_le(out, dir_offset, 8);
    append_le(out, dir_len, 8);
    append_le(out, dir_offset + dir_len, 8); // data offset
    return out + itsp + block + content;
}

std::string sitemap(const std::vector<std::string> &locals)
{
    std::string out = "<HTML><BODY><UL>\n";
    for (const std::string &local : locals)
        out += "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"x\">"
               "<param name=\"Local\" value=\"" + local + "\"></OBJECT>\n";
    return out + "</UL></BODY></HTML>\n";
}

std::string page(const std::string &words)
{
    return "<html><body><p>" + words + "</p></body></html>";
}

// ---------------------------------------------------------------- PostScript

// PostScript showing `rows`, one below the other from the top; a row
// beginning with spaces is indented by as many ems.
std::string make_ps(const std::vector<std::string> &rows)
{
    std::string out = "%!PS-Adobe-3.0\n/Courier findfont 10 scalefont setfont\n";
    int y = 720;
    for (const std::string &row : rows) {
        size_t indent = row.find_first_not_of(' ');
        if (indent != std::string::npos)
            out += std::to_string(72 + 6 * static_cast<int>(indent)) + " " + std::to_string(y) + " moveto (" +
                   row.substr(indent) + ") show\n";
        y -= 12;
    }
    return out + "showpage\n";
}

// PostScript showing `words` on one row, each placed by itself a space
// apart; in Courier, or in a font whose glyphs are named only by number
// ("g33" for '!'), as pdf2ps names a PDF's subset glyphs.
std::string make_placed_ps(const std::vector<std::string> &words, bool numbered)
{
    std::string out = "%!PS-Adobe-3.0\n";
    if (numbered) {
        out += "/Numbered 8 dict begin /FontType 3 def /FontMatrix [0.001 0 0 0.001 0 0] def\n"
               "/FontBBox [0 0 600 700] def /Encoding 256 array def\n"
               "0 1 255 { Encoding exch /.notdef put } for\n";
        for (int code = 33; code < 127; ++code)
            out += "Encoding " + std::to_string(code) + " /g" + std::to_string(code) + " put\n";
        out += "/BuildChar { pop pop 600 0 0 0 500 700 setcachedevice 50 0 moveto 450 0 lineto 450 700 lineto "
               "closepath fill } def\ncurrentdict end definefont pop\n/Numbered findfont 10 scalefont setfont\n";
    } else {
        out += "/Courier findfont 10 scalefont setfont\n";
    }
    int x = 72;
    for (const std::string &word : words) {
        out += std::to_string(x) + " 720 moveto (" + word + ") show\n";
        x += 6 * static_cast<int>(word.size() + 1);
    }
    return out + "showpage\n";
}

// The DOS EPS binary header before the PostScript (no WMF or TIFF preview).
std::string make_dos_eps(const std::string &ps)
{
    std::string out = "\xc5\xd0\xd3\xc6";
    append_le(out, 30, 4);
    append_le(out, ps.size(), 4);
    for (int i = 0; i < 4; ++i)
        append_le(out, 0, 4);
    append_le(out, 0xFFFF, 2);
    return out + ps;
}

// ---------------------------------------------------------------- running

// PATH for the scope of a test.
struct PathScope {
    std::string saved = getenv("PATH") ? getenv("PATH") : "";
    explicit PathScope(const std::string &path) { setenv("PATH", path.c_str(), 1); }
    ~PathScope() { setenv("PATH", saved.c_str(), 1); }
};

struct ReaderRow {
    const char *what;
    ReadFunction read;
    std::function<std::string()> make;
    std::string name;
    std::vector<std::string> blocks; // as dump() gives them, the notice first
    const char *needs = nullptr; // a program the row runs, or nullptr
};

void check_row(const ReaderRow &row, const char *path)
{
    std::string bytes = row.make();
    ASSERT_FALSE(bytes.empty()) << "no sample";
    Document doc;
    Input in{bytes, row.name, path};
    EXPECT_NE(row.read(in, doc), ReadResult::not_this_format);
    EXPECT_EQ(dump(doc), row.blocks);
}

// Each row runs on the bytes alone and, where a program reads the file,
// once more on the file by its path.
void check_rows(const std::vector<ReaderRow> &rows)
{
    for (const ReaderRow &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needs && harness::find_program(row.needs).empty()) {
            std::printf("[ SKIPPED  ] %s: %s is not installed\n", row.what, row.needs);
            continue;
        }
        check_row(row, nullptr);
        if (row.needs) {
            TempDir dir;
            std::string path = dir.path + "/-" + row.name; // never taken for an option
            write_file(path, row.make());
            check_row(row, path.c_str());
        }
    }
}

std::function<std::string()> fixed(const std::string &bytes)
{
    return [bytes] { return bytes; };
}

// ---------------------------------------------------------------- tests

TEST(ReadFormats, EachReaderOnItsSamples)
{
    std::vector<Zone> paragraphs = {
        para_zone({line_zone(300, 3000, 2200, 3050, "The first paragraph runs"),
                   line_zone(300, 2930, 1500, 2980, "over two lines.")}),
        para_zone({line_zone(300, 2800, 2200, 2850, "A second one\fwith a form feed.")}),
    };
    // No paragraph zones: the layout says where paragraphs end.
    std::vector<Zone> lines = {
        line_zone(1000, 3070, 1500, 3120, "A Centred Heading"),
        line_zone(300, 3000, 2200, 3050, "A paragraph whose word is hyphen-"),
        line_zone(300, 2930, 2200, 2980, "ated at the end of its line, and"),
        line_zone(300, 2860, 1200, 2910, "ends short."),
        line_zone(500, 2790, 2200, 2840, "An indented line opens the next"),
        line_zone(300, 2720, 2200, 2770, "one, which a well-"),
        line_zone(300, 2650, 2200, 2700, "Known word ends"),
        line_zone(300, 2400, 1800, 2450, "After a wide gap, a third."),
    };
    std::string coarse = "Line one of a layer\nwithout zones\037Its second paragraph";
    std::vector<ReaderRow> rows = {
        {"doc: read from the file", read_doc, [] { return make_doc("Hello world.\rSecond paragraph here.\r"); },
         "report.doc", {"P Hello world.", "P Second paragraph here."}},
        {"doc: Windows-1252 text as UTF-8", read_doc, [] { return make_doc("Caf\xe9 \x93quoted\x94\r"); },
         "cafe.doc", {"P Café “quoted”"}},
        {"doc: no piece table, which antiword reads as nothing: catdoc", read_doc,
         [] { return make_doc("Short one.\r", true); }, "short.doc", {"P Short one."}, "catdoc"},
        {"doc: a compound file that is no Word file", read_doc,
         [] { return make_doc("Cells\r", false, "Workbook"); }, "sheet.xls",
         {"notice: no text in sheet.xls (Office document)"}},
        {"mobi: DRM", read_mobi, [] { return make_mobi({"BOOKMOBI", "<p>secret</p>", 2}); }, "locked.azw",
         {"notice: locked.azw is protected by DRM: its text cannot be shown"}},
        {"mobi: KF8, the files in order and no stylesheet", read_mobi,
         [] { return make_kf8({"<p>In the first file.</p>", "<h1>Two</h1><p>In the second.</p>"}); }, "book.azw3",
         {"P In the first file.", "H Two", "P In the second."}},
        {"mobi: KF8, a link to a fragment the book lacks", read_mobi,
         [] { return make_kf8({"<p><a href=\"kindle:pos:fid:0009:off:0000000000\">Dead</a> link.</p>"}); },
         "link.azw3", {"P Dead link."}},
        {"mobi: PalmDOC, a paragraph a line", read_mobi,
         [] { return make_mobi({"TEXtREAd", "First paragraph.\nSecond paragraph.\n"}); }, "old.prc",
         {"P First paragraph.", "P Second paragraph."}},
        {"mobi: PalmDOC, hard-wrapped, over two records", read_mobi,
         [] { return make_mobi({"TEXtREAd", repeat("word ", 1000) + "\nend.\n\nNext.\n"}); }, "wrapped.pdb",
         {"P " + repeat("word ", 1000) + "end.", "P Next."}},
        {"djvu: paragraph zones, a form feed dropped", read_djvu, [&] { return make_djvu(&paragraphs); },
         "scan.djvu", {"P The first paragraph runs over two lines.", "P A second one with a form feed."}},
        {"djvu: lines only, paragraphs from the layout", read_djvu, [&] { return make_djvu(&lines); },
         "lines.djvu",
         {"P A Centred Heading", "P A paragraph whose word is hyphenated at the end of its line, and ends short.",
          "P An indented line opens the next one, which a well- Known word ends",
          "P After a wide gap, a third."}},
        {"djvu: a layer of one string", read_djvu, [&] { return make_djvu(nullptr, &coarse); }, "coarse.djvu",
         {"P Line one of a layer without zones", "P Its second paragraph"}},
        {"djvu: no text layer", read_djvu, [] { return make_djvu(nullptr); }, "image.djvu",
         {"notice: image.djvu has no text layer"}},
        {"djvu: a page without a layer among pages with one", read_djvu,
         [&] { return make_djvu_book({make_djvu(&paragraphs), make_djvu(nullptr), make_djvu(nullptr, &coarse)}); },
         "book.djvu",
         {"P The first paragraph runs over two lines.", "P A second one with a form feed.",
          "P page 2 of book.djvu has no text layer", "P Line one of a layer without zones", "P Its second paragraph"},
         "djvm"},
        {"chm: no pages", read_chm, [] { return make_chm({{"/style.css", "p {}"}}); }, "empty.chm",
         {"notice: no text in empty.chm (CHM)"}},
        {"postscript: rows joined into paragraphs", read_postscript,
         [] {
             return make_ps({"The first paragraph of a paper, set in rows",
                             "the same length, its last row short and ended.", "Done.",
                             "   An indented row begins the next paragraph,", "whose words, set in rows as wide, are hyphen-",
                             "ated at times.", "", "After a blank row, a third, hyphenated in full."});
         },
         "paper.ps",
         {"P The first paragraph of a paper, set in rows the same length, its last row short and ended. Done.",
          "P An indented row begins the next paragraph, whose words, set in rows as wide, are hyphenated at times.",
          "P After a blank row, a third, hyphenated in full."},
         "gs"},
        {"postscript: DOS EPS header", read_postscript,
         [] { return make_dos_eps(make_ps({"An encapsulated figure."})); }, "figure.eps",
         {"P An encapsulated figure."}, "gs"},
        {"postscript: words placed apart, no space drawn (groff's and pdftops' way)", read_postscript,
         [] { return make_placed_ps({"Words", "placed", "apart."}, false); }, "placed.ps",
         {"P Words placed apart."}, "gs"},
        {"postscript: glyphs named only by number", read_postscript,
         [] { return make_placed_ps({"!\"#$", "%&'", "*+,-./"}, true); }, "numbered.ps",
         {"notice: no text in numbered.ps (PostScript)"}, "gs"},
        {"binary: PNG", read_binary, fixed(std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)), "photo.png",
         {"notice: no text in photo.png (PNG image)"}},
        {"binary: ELF", read_binary, fixed(std::string("\x7f" "ELF\2\1\1\0\0\0\0\0\0\0\0\0", 16) +
                                           std::string(64, '\0')),
         "a.out", {"notice: no text in a.out (ELF executable)"}},
        {"binary: ZIP that is no book", read_binary, fixed(std::string("PK\3\4\x14\0\0\0\x08\0", 10) +
                                                           std::string(40, '\x01')),
         "data.zip", {"notice: no text in data.zip (ZIP archive)"}},
        {"binary: tar", read_binary, [] {
             std::string tar(1024, '\0');
             tar.replace(0, 8, "notes.tx");
             tar.replace(257, 6, std::string("ustar\0", 6));
             return tar;
         }, "notes.tar", {"notice: no text in notes.tar (tar archive)"}},
        {"binary: of no known kind", read_binary, fixed(random_text(7, 4096).substr(0, 64) + std::string(64, '\0')),
         "blob", {"notice: no text in blob (binary data)"}},
    };
    check_rows(rows);
}

// What MOBI and CHM books hand the HTML reader: their parts and pages, in
// order.
TEST(ReadFormats, BooksHandTheHtmlReaderTheirPagesInOrder)
{
    MobiText book;
    std::string html = "<html><body><p>Caf\xc3\xa9 au lait.</p>" + repeat("<p>filler text</p>", 400) +
                       "<p>The end.</p></body></html>";
    ASSERT_TRUE(mobi_text(Input{make_mobi({"BOOKMOBI", html}), "book.mobi"}, book));
    EXPECT_EQ(book.notice, "");
    ASSERT_EQ(book.html.size(), 1u);
    EXPECT_NE(book.html[0].find("<p>Caf\xc3\xa9 au lait.</p>"), std::string::npos);
    EXPECT_NE(book.html[0].find("<p>The end.</p>"), std::string::npos);

    // A Windows-1252 book comes out in UTF-8.
    ASSERT_TRUE(mobi_text(Input{make_mobi({"BOOKMOBI", "<p>Caf\xe9</p>", 0, 1252}), "old.mobi"}, book));
    ASSERT_EQ(book.html.size(), 1u);
    EXPECT_NE(book.html[0].find("Caf\xc3\xa9"), std::string::npos);

    // A KF8 book's files, each its skeleton with the fragment put in its body.
    ASSERT_TRUE(mobi_text(Input{make_kf8({"<p>One.</p>", "<p>Two.</p>"}), "book.azw3"}, book));
    ASSERT_EQ(book.html.size(), 2u);
    EXPECT_NE(book.html[0].find("<p>One.</p></body>"), std::string::npos);
    EXPECT_NE(book.html[1].find("<p>Two.</p></body>"), std::string::npos);

    // The table of contents first, in its order, whatever the directory's
    // (links differ in case, carry anchors, %20, "ms-its:" and "./"); then
    // the pages it does not name; the sitemap itself never.
    std::vector<std::pair<std::string, std::string>> members = {
        {"/a.htm", page("Appendix")},
        {"/ch 2.htm", page("Two")},
        {"/html/ch1.htm", page("One")},
        {"/toc.hhc", sitemap({"html/CH1.htm#start", "ch%202.htm", "ms-its:book.chm::/html/ch1.htm",
                              "http://example.com/x.htm", "./html/../missing.htm"})},
        {"/z.html", page("Loose page")},
    };
    std::vector<std::string> pages;
    std::string notice;
    ASSERT_TRUE(chm_pages(Input{make_chm(members), "help.chm"}, pages, notice));
    EXPECT_EQ(notice, "");
    EXPECT_EQ(pages, (std::vector<std::string>{page("One"), page("Two"), page("Appendix"), page("Loose page")}));

    // A Shift_JIS sitemap keeps its backslashes (0x5C, the second byte of 表 too).
    std::string jis = sitemap({"pages\\y_02.htm", "pages\\\x95\x5c.htm"});
    jis.insert(6, "<HEAD><meta charset=Shift_JIS></HEAD>");
    members = {{"/pages/y_01.htm", page("One")}, {"/pages/y_02.htm", page("Two")},
               {"/pages/\u8868.htm", page("Table")}, {"/toc.hhc", jis}};
    ASSERT_TRUE(chm_pages(Input{make_chm(members), "jis.chm"}, pages, notice));
    EXPECT_EQ(pages, (std::vector<std::string>{page("Two"), page("Table"), page("One")}));

    EXPECT_EQ(chm_toc_paths(sitemap({"a.htm", "sub/b.htm", "../c.htm", "A.HTM", "d.htm?x=1"}), "/help/"),
              (std::vector<std::string>{"/help/a.htm", "/help/sub/b.htm", "/c.htm", "/help/d.htm"}));
}

// The same books as blocks, through the HTML reader.
TEST(ReadFormats, BooksAsBlocks)
{
    xml_init();
    Document doc;
    std::string html = "<html><head><guide></guide></head><body><h1>Title</h1><p>First.</p>"
                       "<mbp:pagebreak/><p>Second.</p></body></html>";
    ASSERT_NE(read_mobi(Input{make_mobi({"BOOKMOBI", html}), "book.mobi"}, doc), ReadResult::not_this_format);
    EXPECT_EQ(dump(doc), (std::vector<std::string>{"H Title", "P First.", "P Second."}));

    doc = Document{};
    std::vector<std::pair<std::string, std::string>> members = {
        {"/b.htm", page("Second page.")}, {"/a.htm", page("First page.")}, {"/toc.hhc", sitemap({"b.htm"})}};
    ASSERT_NE(read_chm(Input{make_chm(members), "help.chm"}, doc), ReadResult::not_this_format);
    EXPECT_EQ(dump(doc), (std::vector<std::string>{"P Second page.", "P First page."}));

    // A note whose text is in another part keeps the label its marker gave it.
    const std::string ref = "<p>Word<a class=\"footnote-ref\" href=\"#n1\">*</a>.</p>",
                      note = "<aside role=\"doc-footnote\" id=\"n1\"><p>Star note.</p></aside>";
    for (auto [read, book] : {std::pair{&read_mobi, make_kf8({ref, note})},
                              std::pair{&read_chm, make_chm({{"/a.htm", page(ref)}, {"/b.htm", page(note)}})}}) {
        doc = Document{};
        EXPECT_NE(read(Input{book, "notes"}, doc), ReadResult::not_this_format);
        EXPECT_EQ(layout_text(doc), "Word[*].\n\n[*] Star note.\n");
    }
}

// Text named like a book is no book: each reader leaves it alone, and the
// binary notice is never given to text in any encoding.
TEST(ReadFormats, PlainTextIsNoneOfThem)
{
    const std::vector<std::pair<const char *, std::string>> samples = {
        {"ASCII", "Just some notes.\nNothing more.\n"},
        {"UTF-8", "Caf\xc3\xa9 \xe2\x80\x94 \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82\n"},
        {"Windows-1252", "Caf\xe9 \x93quoted\x94 na\xefve\n"},
        {"Shift-JIS", "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67\n"},
        {"KOI8-R", "\xf0\xd2\xc9\xd7\xc5\xd4, \xcd\xc9\xd2\n"},
        {"GB18030", "\xd6\xd0\xce\xc4\xce\xc4\xb1\xbe\x81\x30\x81\x30\n"},
        {"UTF-16LE with BOM", std::string("\xff\xfeH\0i\0\n\0", 8)},
        {"ANSI colours", "\x1b[1mbold\x1b[0m and a tab\there\f\n"},
        {"empty", ""},
    };
    const std::vector<std::pair<const char *, ReadFunction>> readers = {
        {"notes.doc", read_doc},      {"notes.mobi", read_mobi},      {"notes.djvu", read_djvu},
        {"notes.chm", read_chm},      {"notes.ps", read_postscript},  {"notes.bin", read_binary},
    };
    for (const auto &[encoding, text] : samples)
        for (const auto &[name, read] : readers) {
            SCOPED_TRACE(std::string(encoding) + " as " + name);
            Document doc;
            EXPECT_EQ(read(Input{text, name}, doc), ReadResult::not_this_format);
            EXPECT_EQ(doc.notice, "");
            EXPECT_TRUE(doc.blocks.empty());
        }
}

// UTF-16 without a BOM has NUL bytes all through it, yet is text.
TEST(ReadFormats, Utf16WithoutBomIsText)
{
    std::string le, be;
    for (char c : std::string("Plain words, in UTF-16.\n")) {
        le += c;
        le += '\0';
        be += '\0';
        be += c;
    }
    for (const std::string &text : {le, be}) {
        Document doc;
        EXPECT_EQ(read_binary(Input{text, "notes.txt"}, doc), ReadResult::not_this_format);
        EXPECT_EQ(doc.notice, "");
    }
}

// make_doc's file with values put at places of its WordDocument stream
// (`word + at`) or its table stream (`table + at`): {place, value, bytes}.
constexpr size_t word = 1536, table = 5632;
struct Put {
    size_t at;
    uint32_t value;
    int bytes = 4;
};
std::string doc_with(std::string doc, const std::vector<Put> &puts)
{
    for (const Put &put : puts)
        (put.bytes == 4 ? put32le : put16le)(doc, put.at, put.value);
    return doc;
}

// UTF-16LE text for make_doc, its piece marked as such and counted in units.
std::string utf16_doc(const std::u16string &text)
{
    std::string bytes;
    for (char16_t c : text)
        append_le(bytes, c, 2);
    auto units = static_cast<uint32_t>(text.size());
    return doc_with(make_doc(bytes), {{word + 76, units}, {table + 9, units}, {table + 15, 0x400}});
}

// The Word 97 reader on files whose tables say more than they hold: it
// reads what is there, and no more.
TEST(ReadFormats, Word97ReadsWhatTheFileHolds)
{
    std::vector<Put> bins = {{word + 154 + 8 * 13, 0x300}, {word + 158 + 8 * 13, 3204}, {word + 4094, 0xFF00, 2}};
    for (size_t i = 0; i < 400; ++i) // one page named 400 times, one far past the end
        bins.push_back({table + 0x300 + 1604 + 4 * i, i == 9 ? 0x3FFFFFu : 7u});
    const struct {
        const char *what;
        std::string bytes;
        std::vector<std::string> blocks;
    } rows[] = {
        {"a pair as one character, lone halves as U+FFFD", utf16_doc(u"A\U0001F600 \xD83D \xDE00.\r"),
         {"P A\U0001F600 \uFFFD \uFFFD."}},
        {"a main text longer than the stream", doc_with(make_doc("Hello.\r"), {{word + 76, 0xFFFFFFF0}}), {"P Hello."}},
        {"a piece past the stream's end", doc_with(make_doc("Hello.\r"), {{table + 15, 0x41FFFFFE}}), {}},
        {"a bin table of pages named over and over", doc_with(make_doc("Hello.\r"), bins), {"P Hello."}},
        {"65535 styles in a stylesheet of 20 bytes",
         doc_with(make_doc("Hello.\r"), {{table + 0x102, 0xFFFF, 2}}), {"P Hello."}},
        {"lists and list uses past their tables",
         doc_with(make_doc("Hello.\r"), {{word + 154 + 8 * 73, 0x600}, {word + 158 + 8 * 73, 2},
                                         {table + 0x600, 0x7FFF, 2}, {word + 154 + 8 * 74, 0x700},
                                         {word + 158 + 8 * 74, 4}, {table + 0x700, 0x7FFFFFFF}}),
         {"P Hello."}},
        {"170 notes referenced, one text", doc_with(make_doc("\x02Hello.\r"), {{word + 170, 0x800}, {word + 174, 0x400},
                                                                           {word + 178, 0x800}, {word + 182, 8}}),
         {"P [1]Hello.", "N [1] "}},
        {"fields: the instruction dropped, nested ones too, the result kept",
         make_doc("See \x13 HYPERLINK \x13 REF x \x14inner\x15 \x14result\x15 here.\r"), {"P See result here."}},
        {"3000 fields opened and never closed hide no more than their paragraph",
         make_doc(std::string(3000, '\x13') + "hidden\rShown.\r"), {"P Shown."}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Document doc;
        std::string why_not;
        EXPECT_TRUE(word97_read(row.bytes, doc, why_not)) << why_not;
        EXPECT_EQ(dump(doc), row.blocks);
    }
    Document doc;
    std::string why_not;
    EXPECT_FALSE(word97_read(make_doc("Text.\r", true), doc, why_not));
    EXPECT_EQ(why_not, "no piece table");
    EXPECT_FALSE(word97_read(doc_with(make_doc("Text.\r"), {{word + 2, 0x68, 2}}), doc, why_not));
    EXPECT_EQ(why_not, "a Word 6 or 95 document");
}

// The notices for a program that is missing: PATH lacks it.
TEST(ReadFormats, NoticesForMissingPrograms)
{
    TempDir bin;
    write_script(bin.path + "/antiword", "exit 1\n"); // refuses every file
    struct Row {
        const char *what, *path;
        ReadFunction read;
        std::string bytes, name, notice;
    };
    const std::vector<Row> rows = {
        {"no antiword, no catdoc", "", read_doc, make_doc("Text.\r", true), "report.doc",
         "report.doc needs antiword (Debian package antiword)"},
        {"antiword refuses, no catdoc", "stubs", read_doc, make_doc("Text.\r", true), "report.doc",
         "report.doc needs catdoc (Debian package catdoc)"},
        {"no gs", "", read_postscript, make_ps({"Words"}), "paper.ps",
         "paper.ps needs gs (Debian package ghostscript)"},
        {"no gs for EPS", "", read_postscript, make_dos_eps(make_ps({"Words"})), "figure.eps",
         "figure.eps needs gs (Debian package ghostscript)"},
    };
    TempDir empty;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        PathScope path(std::string(row.path) == "stubs" ? bin.path : empty.path);
        Document doc;
        EXPECT_NE(row.read(Input{row.bytes, row.name}, doc), ReadResult::not_this_format);
        EXPECT_EQ(doc.notice, row.notice);
        EXPECT_TRUE(doc.blocks.empty());
    }
}

// A program's run: no shell, stdin /dev/null, a cap, a time limit that
// takes the program's own children too, and nothing left in TMPDIR.
TEST(ReadFormats, ProgramsRunWithinLimits)
{
    TempDir dir;
    const std::string script = dir.path + "/prog";
    // Run by the shell: a program may be started only from the system's own folders.
    const InputFile file{dir.path, script};
    const std::string sh = "/bin/sh";
    ChildOutput result;

    // Arguments reach it as they are, quotes and all; stdin is empty.
    write_script(script, "printf '%s|' \"$@\"; cat\n");
    run_program({sh, script, "a b", "'$(id)'", "--"}, {"EXTRA=1"}, file, {}, 1024, 5, result);
    EXPECT_TRUE(result.succeeded);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.out, "a b|'$(id)'|--|");

    // Its end is seen even when whoever started us ignores SIGCHLD.
    signal(SIGCHLD, SIG_IGN);
    run_program({sh, script, "x"}, {}, file, {}, 1024, 5, result);
    signal(SIGCHLD, SIG_DFL);
    EXPECT_TRUE(result.succeeded);

    // Its environment, and its directory.
    write_script(script, "printf '%s %s' \"$EXTRA\" \"$(pwd)\"\n");
    run_program({sh, script}, {"EXTRA=given"}, file, {}, 1024, 5, result);
    EXPECT_EQ(result.out, "given " + dir.path);

    // No more than the cap, however much it writes.
    write_script(script, "while :; do echo yyyyyyyyyyyyyyyyyyyy; done\n");
    run_program({sh, script}, {}, file, {}, 100000, 5, result);
    EXPECT_EQ(result.out.size(), 100000u);
    EXPECT_FALSE(result.succeeded);

    // A program that never ends is killed, with the child it started.
    const std::string pid_file = dir.path + "/pid";
    write_script(script, "sleep 60 & echo $! > '" + pid_file + "'; echo started; wait\n");
    run_program({sh, script}, {}, file, {}, 1024, 1, result);
    EXPECT_TRUE(result.timed_out);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.out, "started\n");
    pid_t sleeper = static_cast<pid_t>(std::atoi(read_file(pid_file).c_str()));
    ASSERT_GT(sleeper, 0);
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = kill(sleeper, 0) != 0;
        if (!gone)
            usleep(10000);
    }
    EXPECT_TRUE(gone) << "the program's child outlived it";

    // A failing or crashing child is no success; what it wrote still counts.
    write_script(script, "echo partial; exit 3\n");
    run_program({sh, script}, {}, file, {}, 1024, 5, result);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(result.out, "partial\n");

    // Confined: it reads the system's programs and its document, nothing else.
    if (landlock_abi() > 0) {
        write_script(script, "cat /etc/hostname; ls ~; echo x > /tmp/drifterm-confined-$$ && echo wrote\n");
        run_program({sh, script}, {}, file, {}, 1024, 5, result);
        EXPECT_EQ(result.out, "");
    }
    std::string out;
    auto keep = [&out](std::string_view chunk) { out += chunk; return true; };
    run_in_child([](int fd) { write_all(fd, "before"); std::abort(); }, Confinement{}, keep, 5, result);
    EXPECT_FALSE(result.succeeded);
    EXPECT_EQ(out, "before");
    run_in_child([](int) { for (;;) pause(); }, Confinement{}, keep, 1, result);
    EXPECT_TRUE(result.timed_out);

    // A document given as bytes is written for the program and removed.
    if (!harness::find_program("catdoc").empty()) {
        TempDir tmp;
        const char *saved = getenv("TMPDIR");
        std::string saved_tmp = saved ? saved : "";
        setenv("TMPDIR", tmp.path.c_str(), 1);
        Document doc;
        EXPECT_NE(read_doc(Input{make_doc("Kept.\r", true), "kept.doc"}, doc), ReadResult::not_this_format);
        if (saved)
            setenv("TMPDIR", saved_tmp.c_str(), 1);
        else
            unsetenv("TMPDIR");
        EXPECT_EQ(dump(doc), std::vector<std::string>{"P Kept."});
        EXPECT_EQ(std::system(("rmdir '" + tmp.path + "' && mkdir '" + tmp.path + "'").c_str()), 0)
            << "a file was left in TMPDIR";
    }
}

// A PostScript file is a program; under -dSAFER it can neither read
// another file nor write one.
TEST(ReadFormats, PostScriptRunsSafe)
{
    if (harness::find_program("gs").empty())
        GTEST_SKIP() << "gs is not installed";
    TempDir dir;
    const std::string secret = dir.path + "/secret", written = dir.path + "/written";
    write_file(secret, "the secret words\n");
    std::string ps = "%!PS\n/Times-Roman findfont 12 scalefont setfont 72 700 moveto\n"
                     "{ (" + secret + ") (r) file 100 string readline pop show } stopped pop\n"
                     "{ (" + written + ") (w) file (x) writestring } stopped pop\n"
                     "72 600 moveto (Visible text.) show showpage\n";
    Document doc;
    EXPECT_NE(read_postscript(Input{ps, "hostile.ps"}, doc), ReadResult::not_this_format);
    EXPECT_EQ(dump(doc), std::vector<std::string>{"P Visible text."});
    struct stat st;
    EXPECT_NE(stat(written.c_str(), &st), 0) << "the PostScript file wrote a file";
}

// ---------------------------------------------------------------- hostile files

// `bytes` through a program of the system that reads and writes files
// ("gzip -c -n", "bzz -e"), `times` over; "" when it is missing.
std::string through(const char *program, const char *options, const std::string &bytes, int times = 1)
{
    if (harness::find_program(program).empty())
        return "";
    TempDir dir;
    std::string out = bytes;
    for (int i = 0; i < times; ++i) {
        write_file(dir.path + "/in", out);
        std::string command = std::string(program) + " " + options + " '" + dir.path + "/in' > '" + dir.path + "/out'";
        if (std::system(command.c_str()) != 0)
            return "";
        out = read_file(dir.path + "/out");
    }
    return out;
}

std::string gzipped(const std::string &bytes, int times = 1)
{
    return through("gzip", "-c -n", bytes, times);
}

std::string bzz(const std::string &raw)
{
    if (harness::find_program("bzz").empty())
        return "";
    TempDir dir;
    write_file(dir.path + "/in", raw);
    std::string command = "bzz -e '" + dir.path + "/in' '" + dir.path + "/out'";
    return std::system(command.c_str()) == 0 ? read_file(dir.path + "/out") : "";
}

std::string djvu_form(const std::string &form, const std::string &chunks)
{
    std::string out = "AT&TFORM";
    append_be(out, static_cast<uint32_t>(form.size() + chunks.size()), 4);
    return out + form + chunks;
}

// A page whose text zones nest `depth` deep, in a compressed layer.
std::string make_deep_djvu(int depth)
{
    std::string layer;
    append_be(layer, 4, 3);
    layer += "deep\x01";
    for (int i = 0; i < depth; ++i) {
        layer += static_cast<char>(i == 0 ? 1 : 3);
        for (int v : {0, 0, 100, 100, 0})
            append_be(layer, static_cast<uint32_t>(0x8000 + v), 2);
        append_be(layer, 4, 3);
        append_be(layer, i + 1 < depth ? 1 : 0, 3);
    }
    std::string packed = bzz(layer), chunks;
    std::string page = make_djvu(nullptr);
    append_chunk(chunks, "TXTz", packed);
    return packed.empty() ? "" : djvu_form("DJVU", page.substr(16) + chunks);
}

// An indirect book of one page, named to climb out of its folder.
std::string make_indirect_djvu(const std::string &page_name)
{
    std::string packed = bzz(std::string("\0\0\0\x01", 4) + page_name + '\0'), dirm = "\x01", chunks;
    append_be(dirm, 1, 2);
    append_chunk(chunks, "DIRM", dirm + packed);
    return packed.empty() ? "" : djvu_form("DJVM", chunks);
}

std::string epub_with(const std::vector<std::string> &chapters, const std::string &package = "OEBPS/content.opf")
{
    std::string manifest, spine;
    ziptest::Members members = {
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml", "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
                                   "<rootfile full-path=\"" + package + "\"/></rootfiles></container>"}};
    for (size_t i = 0; i < chapters.size(); ++i) {
        std::string id = "c" + std::to_string(i);
        manifest += "<item id=\"" + id + "\" href=\"" + id + ".xhtml\" media-type=\"application/xhtml+xml\"/>";
        spine += "<itemref idref=\"" + id + "\"/>";
        members.push_back({"OEBPS/" + id + ".xhtml", chapters[i]});
    }
    members.push_back({"OEBPS/content.opf", "<package xmlns=\"http://www.idpf.org/2007/opf\"><manifest>" + manifest +
                                                "</manifest><spine>" + spine + "</spine></package>"});
    return ziptest::make_zip(members);
}

std::string docx_with(const std::string &body)
{
    return ziptest::make_zip({{"word/document.xml", "<w:document xmlns:w=\"http://schemas.openxmlformats.org/"
                                                    "wordprocessingml/2006/main\"><w:body>" + body +
                                                        "</w:body></w:document>"}});
}

std::string html_page(const std::string &body)
{
    return "<html><body>" + body + "</body></html>";
}

// Hostile or broken files, each under 200 KB, through the filter: a
// notice or the document's words, in order, never raw bytes; a few rows
// on the screen too, where the program must not stay on "Loading..".
TEST(ReadFormats, HostileFilesEndInANoticeOrTheirWords)
{
    std::string mobi = make_mobi({"BOOKMOBI", "<p>text</p>"});
    // Record 0 claims 65535 records of 65535 bytes.
    std::string huge_claim = mobi;
    size_t r0 = 78 + 8 * 2 + 2;
    huge_claim.replace(r0 + 8, 4, "\xff\xff\xff\xff");
    std::string looping_chm = make_chm({});
    looping_chm.replace(0x60 + 0x54 + 0x10, 4, std::string(4, '\0')); // the next block: itself
    // 60 MiB of paragraphs; four chapters of half that stay under 200 KB zipped.
    const std::string flood = repeat("<p>a</p>", size_t{60} << 17), half = flood.substr(0, flood.size() / 2);
    const std::string p = "<p>First chapter words.</p>", markup = "it holds too much markup for its text";
    struct Row {
        const char *name;
        std::function<std::string()> make;
        std::vector<std::string> shown; // in order
        bool on_screen = false;
    };
    const std::vector<Row> rows = {
        {"cut.mobi", [&] { return mobi.substr(0, 100); }, {"no text in cut.mobi (MOBI)"}},
        {"huge.mobi", [&] { return huge_claim; }, {"no text in huge.mobi (MOBI)"}},
        {"bad.djvu", [] { return make_djvu(nullptr).substr(0, 16) + std::string(200, 'U'); },
         {"no text in bad.djvu (DjVu)"}},
        {"deep.djvu", [] { return make_deep_djvu(100000); }, {"deep.djvu could not be read (DjVu): its reader"}, true},
        {"indirect.djvu", [] { return make_indirect_djvu("../../x"); }, {"indirect.djvu has no text layer"}},
        {"cut.chm", [] { return make_chm({{"/a.htm", page("A")}}).substr(0, 0x70); }, {"no text in cut.chm (CHM)"}},
        {"loop.chm", [&] { return looping_chm; }, {"loop.chm could not be read (CHM): it is damaged"}, true},
        {"flood.epub", [&] { return epub_with({html_page(p), html_page(flood)}); },
         {"First chapter words.", "flood.epub could not be read past chapter 1 (EPUB): " + markup}, true},
        {"floods.epub", [&] { return epub_with({half, half, half, half}); },
         {"floods.epub could not be read (EPUB): " + markup}},
        {"empty.docx", [] { return docx_with(repeat("<w:p/>", 10000000)); },
         {"empty.docx could not be read (DOCX): " + markup}, true},
        {"flood.html.gz", [&] { return gzipped(html_page(flood)); }, {"flood.html could not be read (HTML): " + markup}},
        {"flood.rtf.gz", [] { return gzipped("{\\rtf1 " + repeat("a\\par ", (size_t{60} << 20) / 6) + "}"); },
         {"a\n\na\n", "flood.rtf could not be read past paragraph ", "(RTF): " + markup}},
        {"twice.txt.gz.gz", [] { return gzipped("Twice compressed words.\n", 2); }, {"Twice compressed words."}},
        {"four.txt.gz.gz.gz.gz", [] { return gzipped("Words.\n", 4); },
         {"four.txt.gz.gz.gz.gz could not be read (gzip): it is compressed more than three times over"}, true},
        {"deep.rtf.gz", [] { return gzipped("{\\rtf1 Before " + repeat("{", 2000000) + "deep words" +
                                            repeat("}", 2000000) + " after.}"); },
         {"Before deep words after."}},
        {"deep.html.gz", [] { return gzipped(html_page("<p>Before</p>" + repeat("<div>", 1000000) + "deep words" +
                                                       repeat("</div>", 1000000) + "<p>after</p>")); },
         {"Before\n\ndeep words\n\nafter\n"}},
        {"none.epub", [] { return epub_with({html_page("<img src=\"x.png\"/>")}); }, {"no text in none.epub (EPUB)"}},
        {"none.docx", [] { return docx_with("<w:p/>"); }, {"no text in none.docx (DOCX)"}},
        {"bomb.epub", [] { return epub_with({html_page("<p>" + std::string(size_t{100} << 20, 'a') + "</p>")}); },
         {"no text in bomb.epub (EPUB)"}},
        {"outside.epub", [&] { return epub_with({html_page("<p>Inside words.</p>")}, "../../etc/passwd"); },
         {"Inside words."}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string bytes = row.make();
        if (bytes.empty()) {
            std::printf("[ SKIPPED  ] %s: gzip or bzz is not installed\n", row.name);
            continue;
        }
        EXPECT_LE(bytes.size(), size_t{200} << 10);
        Sandbox box;
        std::string path = box.dir.path + "/" + row.name;
        write_file(path, bytes);
        Launch launch;
        launch.program = "/bin/sh";
        launch.args = {DRIFTERM_SOURCE_DIR "/filter/lesspipe.sh", path};
        launch.home = box.home;
        launch.env = {{"DRIFTERM_CONVERT", DRIFTERM_CONVERT_BINARY}};
        RunResult r = run_plain(launch, 60000);
        EXPECT_EQ(r.out.find_first_of(std::string("\0\1\2\3\4\5\6\7\b\v\f\r\x1b\x7f", 14)), std::string::npos);
#if defined(__SANITIZE_ADDRESS__)
        // An instrumented build runs several times slower: its reader may
        // meet the time limit first, which is a notice too.
        if (r.out.find("it takes too long to read") != std::string::npos)
            continue;
#endif
        size_t at = 0;
        for (const std::string &text : row.shown) {
            size_t found = r.out.find(text, at);
            EXPECT_NE(found, std::string::npos) << "\"" << text << "\" in:\n" << r.out.substr(0, 300);
            at = found == std::string::npos ? at : found + text.size();
        }
        if (!row.on_screen)
            continue;
        launch = reader_launch(box.home, {"-s", "20"}, path);
        launch.env = {{"DRIFTERM_FILTER", DRIFTERM_SOURCE_DIR "/filter/lesspipe.sh"},
                      {"DRIFTERM_CONVERT", DRIFTERM_CONVERT_BINARY}};
        TermPtr t(term_spawn(launch));
        ASSERT_TRUE(t);
        EXPECT_SCREEN_TEXT(t.get(), row.shown.back().substr(0, 40), 20000);
        term_send(t.get(), "q");
        EXPECT_EXIT_STATUS(t.get(), 0, 5000);
    }
}

// An indirect DjVu book keeps its pages in files of their own; they are
// never read, though they lie beside it.
TEST(ReadFormats, IndirectDjvuReadsNoOtherFile)
{
    std::vector<Zone> zones = {line_zone(300, 3000, 2200, 3050, "Text of a page file.")};
    std::string book = make_djvu_book({make_djvu(&zones), make_djvu(&zones)});
    std::string djvmcvt = harness::find_program("djvmcvt");
    if (book.empty() || djvmcvt.empty())
        GTEST_SKIP() << "djvm or djvmcvt is not installed";
    TempDir dir;
    write_file(dir.path + "/book.djvu", book);
    ASSERT_EQ(mkdir((dir.path + "/ind").c_str(), 0700), 0);
    std::string command = "'" + djvmcvt + "' -i '" + dir.path + "/book.djvu' '" + dir.path + "/ind' index.djvu";
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0);
    std::string index = dir.path + "/ind/index.djvu";
    Document doc;
    EXPECT_NE(read_djvu(Input{read_file(index), "index.djvu", index.c_str()}, doc), ReadResult::not_this_format);
    EXPECT_EQ(doc.notice, "index.djvu has no text layer");
    EXPECT_TRUE(doc.blocks.empty());
}

// Code inside libmobi, djvulibre and libchm, reached through a stand-in
// for each one's entry point, reads no file under HOME and runs nothing.
TEST(ReadFormats, LibrariesReachNothingFromTheirChild)
{
    std::vector<Zone> zones = {line_zone(300, 3000, 2200, 3050, "Words of a page.")};
    const struct {
        const char *name;
        std::string bytes;
    } rows[] = {
        {"book.mobi", make_mobi({"BOOKMOBI", "<p>Words of a book.</p>"})},
        {"page.djvu", make_djvu(&zones)},
        {"help.chm", make_chm({{"/a.htm", page("Words of help.")}})},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Sandbox box;
        write_file(box.home + "/secret", "the secret words\n");
        write_file(box.dir.path + "/" + row.name, row.bytes);
        Launch launch;
        launch.program = DRIFTERM_CONVERT_BINARY;
        launch.args = {box.dir.path + "/" + row.name};
        launch.home = box.home;
        launch.env = {{"LD_PRELOAD", LIBRARY_PROBE}, {"ASAN_OPTIONS", "detect_leaks=0:verify_asan_link_order=0"}};
        RunResult r = run_plain(launch, 10000);
        EXPECT_NE(r.err.find("library probe: a file under HOME: EACCES"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("library probe: a program: starting"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("ran"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("secret"), std::string::npos) << r.out;
        // A sanitizer build refuses the program softly, and the book is read.
#if !defined(__SANITIZE_ADDRESS__)
        EXPECT_EQ(r.out, std::string(row.name) + " could not be read (" + format_for(detect_kind(row.bytes, row.name))->name +
                             "): its reader tried what no reader may do, and was stopped\n");
#endif
    }
}

} // namespace
