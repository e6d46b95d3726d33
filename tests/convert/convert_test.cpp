// The converter's parts on samples made here: kind detection, character
// sets, the writer, and one table per reader.
#include <gtest/gtest.h>

#include <iconv.h>
#include <sys/stat.h>

#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/document.h"
#include "convert/formats.h"
#include "convert/readers.h"
#include "convert/xml.h"
#include "helpers.h"
#include "zip_maker.h"

namespace {

using namespace std::string_literals;

TEST(ConvertTable, EveryReadableKindHasOneRow)
{
    for (const Format &f : formats())
        EXPECT_EQ(format_for(f.kind), &f) << f.name;
}

// The README's table of formats and the manual page's list say what the
// table says: every format by its name, and no README row of a format the
// table does not have (but manual pages, which the filter reads itself).
TEST(ConvertTable, ReadmeAndManualNameItsFormats)
{
    std::string readme = harness::read_file(DRIFTERM_SOURCE_DIR "/README.md");
    std::string manual = harness::read_file(DRIFTERM_SOURCE_DIR "/doc/drifterm.1");
    std::vector<std::string> rows; // the first cells of the table below "| Format |"
    size_t at = readme.find("| Format |");
    ASSERT_NE(at, std::string::npos);
    for (at = readme.find('\n', readme.find('\n', at) + 1) + 1; readme.compare(at, 2, "| ") == 0;
         at = readme.find('\n', at) + 1)
        rows.push_back(readme.substr(at + 2, readme.find(" |", at + 1) - at - 2));
    for (const Format &f : formats()) {
        bool named = false;
        for (const std::string &row : rows)
            named = named || row.find(f.name) != std::string::npos;
        EXPECT_TRUE(named) << f.name << " has no row in README.md's table of formats";
        EXPECT_NE(manual.find(f.name), std::string::npos) << f.name << " is not named in doc/drifterm.1";
    }
    for (const std::string &row : rows) {
        bool known = row.starts_with("manual pages");
        for (const Format &f : formats())
            known = known || row.find(f.name) != std::string::npos;
        EXPECT_TRUE(known) << "README.md's row \"" << row << "\" names no format of the table";
    }
}

// ---------------------------------------------------------------- samples

// A few lines in each language: enough for uchardet to tell the sets apart.
const std::string japanese =
    "今日はとても良い天気です。私は朝早く起きて、駅まで歩きました。電車の中で本を読みながら、窓の外の景色を眺めていました。\n"
    "会社に着くと、同僚たちがもう仕事を始めていました。昼休みには近くの公園でお弁当を食べました。午後は会議が三つもあって、少し疲れました。\n"
    "夕方、友達と一緒に駅前の喫茶店でコーヒーを飲みました。家に帰ってから、晩ご飯を作って、テレビを見ました。\n";
const std::string simplified_chinese =
    "今天天气很好，我们一起去公园散步。公园里有很多人，有的在跑步，有的在打太极拳，还有的在下棋。孩子们在草地上玩耍，老人们坐在长椅上聊天。\n"
    "我们走到湖边，看见几只白色的鸭子在水里游来游去。中午我们在附近的饭馆吃了饺子和面条。\n"
    "下午回家以后，我读了一本关于中国历史的书，书里讲了很多古代皇帝的故事。晚上全家人一起看电视，度过了一个愉快的周末。\n";
const std::string traditional_chinese =
    "今天天氣很好，我們一起去公園散步。公園裡有很多人，有的在跑步，有的在打太極拳，還有的在下棋。孩子們在草地上玩耍，老人們坐在長椅上聊天。\n"
    "我們走到湖邊，看見幾隻白色的鴨子在水裡游來游去。中午我們在附近的飯館吃了餃子和麵條。\n"
    "下午回家以後，我讀了一本關於中國歷史的書，書裡講了很多古代皇帝的故事。晚上全家人一起看電視，度過了一個愉快的週末。\n";
const std::string korean =
    "오늘은 날씨가 아주 좋습니다. 저는 아침 일찍 일어나서 공원에 산책을 갔습니다. 공원에는 많은 사람들이 운동을 하고 있었습니다.\n"
    "점심에는 친구와 함께 식당에서 김치찌개를 먹었습니다. 오후에는 도서관에 가서 한국 역사에 관한 책을 읽었습니다.\n"
    "저녁에는 가족과 함께 텔레비전을 보면서 이야기를 나누었습니다. 내일은 회사에 일찍 가야 하기 때문에 오늘 밤에는 일찍 자려고 합니다.\n";
const std::string russian =
    "Сегодня была прекрасная погода. Утром я встал рано и пошёл гулять в парк. В парке было много людей: одни бегали, "
    "другие играли в шахматы, а дети катались на велосипедах.\n"
    "Днём мы с другом обедали в небольшом кафе возле реки. После обеда я читал книгу об истории нашего города, "
    "о его старых улицах и знаменитых жителях.\n"
    "Вечером вся семья собралась за столом, и мы долго разговаривали о планах на лето.\n";
const std::string french =
    "Le café était déjà fermé quand nous sommes arrivés à la gare. L’été dernier, nous avions passé trois semaines à "
    "la montagne, près d’un petit village où l’on mangeait très bien.\n"
    "« C’est magnifique », disait ma sœur en regardant les sommets enneigés. Chaque matin, nous prenions le pain "
    "frais chez le boulanger, puis nous partions marcher des heures dans la forêt…\n";

// `utf8` in `charset`, as iconv writes it.
std::string encoded(const std::string &utf8, const char *charset)
{
    iconv_t cd = iconv_open(charset, "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << charset;
    std::string out(utf8.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(utf8.data()), *to = out.data();
    size_t in_left = utf8.size(), room = out.size();
    EXPECT_NE(iconv(cd, &in, &in_left, &to, &room), static_cast<size_t>(-1)) << charset;
    iconv(cd, nullptr, nullptr, &to, &room);
    iconv_close(cd);
    out.resize(out.size() - room);
    return out;
}

using ziptest::make_zip;

// ---------------------------------------------------------------- detection

TEST(Detect, KindFromContentFirstThenName)
{
    const std::string fb2 = "<?xml version=\"1.0\"?>\n<!-- made by hand -->\n"
                            "<FictionBook xmlns=\"http://www.gribuu.net/fb2\"><body/></FictionBook>\n";
    const std::string utf16_fb2 = "\xFF\xFE"s + encoded(fb2, "UTF-16LE");
    const std::string epub_zip = make_zip({{"mimetype", "application/epub+zip"}, {"OEBPS/a.xhtml", "<html/>"}});
    const std::string no_mark_zip = make_zip({{"OEBPS/a.xhtml", "<html/>"}});
    std::string binary;
    for (int i = 0; i < 4096; i++)
        binary += static_cast<char>(i * 7 % 256);
    struct Row {
        const char *what;
        std::string bytes;
        std::string name;
        Kind kind;
    } rows[] = {
        {"PDF magic under a text name", "%PDF-1.4\n%\xE2\xE3\n1 0 obj", "notes.txt", Kind::pdf},
        {"RTF magic under a Word name", "{\\rtf1\\ansi hello}", "letter.doc", Kind::rtf},
        {"PalmDOC book under any name", std::string(60, '\0') + "TEXtREAd" + std::string(20, '\0'), "book", Kind::mobi},
        {"DOS EPS under any name", "\xc5\xd0\xd3\xc6"s + std::string(28, '\0'), "figure", Kind::postscript},
        {"gzip of a book", "\x1f\x8b\x08\x00"s + std::string(16, '\0'), "book.epub.gz", Kind::gzip},
        {"zip marked EPUB, any name", epub_zip, "download.zip", Kind::epub},
        {"mimetype with a line end", make_zip({{"mimetype", "application/epub+zip\r\n"}}), "x", Kind::epub},
        {"zip holding the Word document", make_zip({{"word/document.xml", "<w:document/>"}}), "x.bin", Kind::docx},
        {"zip marked ODT", make_zip({{"mimetype", "application/vnd.oasis.opendocument.text"}}), "x", Kind::odt},
        {"spreadsheet named like a text document",
         make_zip({{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}}), "sheet.odt", Kind::odt},
        {"zip without marks named EPUB", no_mark_zip, "Book.EPUB", Kind::epub},
        {"zip without marks otherwise", no_mark_zip, "archive.zip", Kind::binary},
        {"broken zip named DOCX", "PK\3\4broken", "report.docx", Kind::docx},
        {"FictionBook after a declaration and a comment", fb2, "book.xml", Kind::fb2},
        {"FictionBook in UTF-16LE", utf16_fb2, "book", Kind::fb2},
        {"FictionBook past an internal subset",
         "<!DOCTYPE FictionBook [ <!ENTITY e SYSTEM \"file:///etc/passwd\"> ]>\n<FictionBook>&e;</FictionBook>",
         "x.txt", Kind::fb2},
        {"root names are exact outside HTML", "<fictionbook></fictionbook>\n", "x.txt", Kind::text},
        {"HTML doctype", "<!DOCTYPE html>\n<p>hi</p>\n", "notes.txt", Kind::html},
        {"XHTML with a public doctype",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
         "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html xmlns=\"http://www.w3.org/1999/xhtml\">",
         "ch1", Kind::html},
        {"HTML root in capitals", "\xEF\xBB\xBF  <HTML><BODY>hi</BODY></HTML>", "", Kind::html},
        {"prefixed root", "<h:html xmlns:h=\"http://www.w3.org/1999/xhtml\"/>", "", Kind::html},
        {"HTML in UTF-16BE without a BOM", encoded("<html>\n<body>hello there</body>\n</html>\n", "UTF-16BE"), "",
         Kind::html},
        {"HTML fragment named HTML", "<p>only a fragment</p>\n", "page.html", Kind::html},
        {"a text named HTML", "no markup at all\n", "page.html", Kind::text},
        {"a text named EPUB", "Chapter one.\n", "book.epub", Kind::text},
        {"a text named PDF", "Just words.\n", "paper.pdf", Kind::text},
        {"a text named RTF", "Just words.\n", "letter.rtf", Kind::text},
        {"RTF a little way in, named RTF", "\r\n\r\n{\\rtf1 hello}", "letter.rtf", Kind::rtf},
        {"other XML", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "picture.xml", Kind::text},
        {"binary named EPUB", binary, "book.epub", Kind::epub},
        {"binary", binary, "data", Kind::binary},
        {"NUL bytes in a text", "words\0more words\n"s, "notes.txt", Kind::binary},
        {"UTF-16LE without a BOM", encoded(french, "UTF-16LE"), "notes.txt", Kind::text},
        {"UTF-32LE without a BOM", encoded(japanese, "UTF-32LE"), "notes.txt", Kind::text},
        {"empty", "", "empty.epub", Kind::text},
    };
    for (const Row &row : rows)
        EXPECT_EQ(static_cast<int>(detect_kind(row.bytes, row.name)), static_cast<int>(row.kind)) << row.what;
}

// ---------------------------------------------------------------- character sets

TEST(Charset, DetectedAndConvertedToUtf8)
{
    struct Row {
        const char *what;
        std::string bytes;
        const char *charset; // what detect_charset names
        std::string utf8;    // what to_utf8 makes of it in that set
    } rows[] = {
        {"Shift-JIS", encoded(japanese, "SHIFT_JIS"), "CP932", japanese},
        {"backslash in Shift-JIS", encoded(japanese + "C:\\temp\n", "CP932"), "CP932", japanese + "C:\\temp\n"},
        {"EUC-JP", encoded(japanese, "EUC-JP"), "EUC-JP", japanese},
        {"ISO-2022-JP", encoded(japanese, "ISO-2022-JP"), "ISO-2022-JP", japanese},
        {"GB18030", encoded(simplified_chinese, "GB18030"), "GB18030", simplified_chinese},
        {"Big5", encoded(traditional_chinese, "BIG5"), "BIG5", traditional_chinese},
        {"EUC-KR", encoded(korean, "EUC-KR"), "CP949", korean},
        {"KOI8-R", encoded(russian, "KOI8-R"), "KOI8-R", russian},
        {"Windows-1251", encoded(russian, "CP1251"), "WINDOWS-1251", russian},
        {"Windows-1252", encoded(french, "CP1252"), "WINDOWS-1252", french},
        {"UTF-16LE without a BOM", encoded(french, "UTF-16LE"), "UTF-16LE", french},
        {"UTF-16BE without a BOM", encoded(russian, "UTF-16BE"), "UTF-16BE", russian},
        {"CJK in UTF-16LE without a BOM", encoded(japanese, "UTF-16LE"), "UTF-16LE", japanese},
        {"CJK in UTF-16BE without a BOM", encoded(korean, "UTF-16BE"), "UTF-16BE", korean},
        {"UTF-16LE BOM", "\xFF\xFE"s + encoded(korean, "UTF-16LE"), "UTF-16LE", korean},
        {"UTF-16BE BOM", "\xFE\xFF"s + encoded(korean, "UTF-16BE"), "UTF-16BE", korean},
        {"UTF-32LE BOM", encoded("\xEF\xBB\xBF" + french, "UTF-32LE"), "UTF-32LE", french},
        {"UTF-32BE without a BOM", encoded(russian, "UTF-32BE"), "UTF-32BE", russian},
        {"UTF-8 BOM", "\xEF\xBB\xBF" + french, "UTF-8", french},
        {"UTF-8", japanese, "UTF-8", japanese},
        {"ASCII", "plain\n", "UTF-8", "plain\n"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(detect_charset(row.bytes), row.charset) << row.what;
        EXPECT_EQ(to_utf8(row.bytes, row.charset), row.utf8) << row.what;
    }
}

TEST(Charset, BytesThatAreNoCharacterBecomeReplacements)
{
    const std::string r = "\xEF\xBF\xBD";
    struct Row {
        const char *what;
        std::string bytes;
        const char *charset;
        std::string utf8;
    } rows[] = {
        {"Windows-1252's five undefined bytes", "a\x81\x8d\x8f\x90\x9d\x80z", "WINDOWS-1252",
         "a" + r + r + r + r + r + "€z"},
        {"no name is Windows-1252", "caf\xe9", "", "café"},
        {"a name iconv does not know", "caf\xe9", "NO-SUCH-SET", "café"},
        {"UTF-8 cut short", "a\xC3(b\xE2\x82", "UTF-8", "a" + r + "(b" + r},
        {"UTF-8 overlong and surrogate", "\xC0\xAF.\xED\xA0\x80.", "utf-8", r + r + "." + r + r + r + "."},
        {"UTF-8 past U+10FFFF", "\xF4\x90\x80\x80!", "UTF-8", r + r + r + r + "!"},
        {"lone surrogate in UTF-16LE", "\x00\xD8" "a\x00"s, "UTF-16LE", r + "a"},
        {"odd last byte in UTF-16LE", "a\x00" "b"s, "UTF-16LE", "a" + r},
        {"UTF-16 with its order from the BOM", "\xFE\xFF\x00h\x00i"s, "UTF-16", "hi"},
        {"bad double byte in Shift-JIS", "\x82\xA0\x85\x40x", "CP932", "あ" + r + "@x"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(to_utf8(row.bytes, row.charset), row.utf8) << row.what;
}

TEST(Charset, StrictUtf8AndUtf16WithoutBom)
{
    struct Utf8Row {
        std::string bytes;
        bool valid;
    } utf8_rows[] = {
        {"", true},
        {"plain ASCII long enough for the word loop", true},
        {"é ¢ € 😀 \xF4\x8F\xBF\xBF", true},
        {"\xC0\x80", false},             // overlong NUL
        {"\xE0\x80\xAF", false},         // overlong
        {"\xF0\x80\x80\xAF", false},     // overlong
        {"\xED\xA0\x80", false},         // surrogate
        {"\xF4\x90\x80\x80", false},     // past U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"abcdefgh\xE2\x82", false},     // cut short
        {"abcdefgh\x80", false},         // lone continuation
    };
    for (const Utf8Row &row : utf8_rows)
        EXPECT_EQ(valid_utf8(row.bytes), row.valid) << testing::PrintToString(row.bytes);

    std::string counters, ints, unpaired = encoded(french, "UTF-16LE");
    for (int i = 0; i < 2000; i++) {
        counters += static_cast<char>(i % 256);
        counters += '\0';
        uint32_t value = static_cast<uint32_t>(i) * 2654435761u;
        ints.append(reinterpret_cast<const char *>(&value), 4);
    }
    unpaired.insert(40, "\x00\xDC"s);
    struct Utf16Row {
        const char *what;
        std::string bytes;
        const char *order;
    } utf16_rows[] = {
        {"Latin", encoded(french, "UTF-16LE"), "UTF-16LE"},
        {"Cyrillic", encoded(russian, "UTF-16BE"), "UTF-16BE"},
        {"Hangul, zero bytes only in spaces", encoded(korean, "UTF-16LE"), "UTF-16LE"},
        {"Chinese: more zeros in 一 (00 4E) than in its line ends", encoded(simplified_chinese, "UTF-16LE"), "UTF-16LE"},
        {"Chinese in UTF-16BE", encoded(simplified_chinese, "UTF-16BE"), "UTF-16BE"},
        {"padded with NUL units", encoded("short text\n", "UTF-16LE") + std::string(8, '\0'), "UTF-16LE"},
        {"small integers", counters, ""},
        {"32-bit integers", ints, ""},
        {"a lone low surrogate", unpaired, ""},
        {"UTF-8", french, ""},
        {"Shift-JIS", encoded(japanese, "SHIFT_JIS"), ""},
        {"UTF-32LE", encoded(french, "UTF-32LE"), ""},
    };
    for (const Utf16Row &row : utf16_rows)
        EXPECT_EQ(utf16_without_bom(row.bytes), row.order) << row.what;
    // Text with stray NUL bytes is no UTF-16, however its bytes pair up.
    for (unsigned seed = 0; seed < 200; seed++)
        for (size_t size : {20, 100, 5000})
            EXPECT_EQ(utf16_without_bom(harness::random_text(seed, size)), "") << seed << " " << size;
}

// ---------------------------------------------------------------- writer

Block block(BlockKind kind, std::string text)
{
    Block b;
    b.kind = kind;
    b.text = std::move(text);
    return b;
}

Block item(std::string text, ListStyle style, long number, int depth = 0)
{
    Block b = block(BlockKind::list_item, std::move(text));
    b.style = style;
    b.number = number;
    b.depth = depth;
    return b;
}

Block table_row(std::vector<std::string> cells)
{
    Block b = block(BlockKind::table_row, "");
    b.cells = std::move(cells);
    return b;
}

Block note(std::string label, std::string text)
{
    Block b = block(BlockKind::note, std::move(text));
    b.label = std::move(label);
    return b;
}

TEST(Writer, BlocksToRows)
{
    using K = BlockKind;
    struct Row {
        const char *what;
        std::vector<Block> blocks;
        std::string text;
    } rows[] = {
        {"nothing", {}, ""},
        {"heading and paragraph", {block(K::heading, "Title"), block(K::paragraph, "Body.")}, "Title\n\nBody.\n"},
        {"white space collapsed and trimmed", {block(K::paragraph, " one \t two\r\n\n three ")}, "one two three\n"},
        {"no-break spaces kept inside", {block(K::paragraph, "10\u00a0km")}, "10\u00a0km\n"},
        {"blank blocks dropped",
         {block(K::paragraph, "a"), block(K::paragraph, "\u00a0 \u3000\u202f"), block(K::paragraph, " \n "),
          block(K::paragraph, "b")},
         "a\n\nb\n"},
        {"control bytes dropped", {block(K::paragraph, "red\x1b[31m text\x7f")}, "red[31m text\n"},
        {"line and paragraph separators are white space", {block(K::paragraph, "one\u2028two\u2029")}, "one two\n"},
        {"a list together, apart from what is around it",
         {block(K::paragraph, "Before"), item("one", ListStyle::bullet, 1), item("two", ListStyle::bullet, 2),
          item("inner", ListStyle::lower_alpha, 1, 1), item("", ListStyle::bullet, 3), block(K::paragraph, "After")},
         "Before\n\n• one\n• two\n  a. inner\n\nAfter\n"},
        {"numbers from the list's start", {item("seventh", ListStyle::decimal, 7), item("eighth", ListStyle::decimal, 8)},
         "7. seventh\n8. eighth\n"},
        {"quotes indented", {block(K::quote, "said"), [] { Block b = block(K::quote, "deeper"); b.depth = 1; return b; }()},
         "    said\n\n        deeper\n"},
        {"table rows together, cells apart",
         {table_row({"Name", "Size"}), table_row({"a", "", "3"}), table_row({"", "x"}), table_row({"\u00a0", " "}),
          block(K::paragraph, "Below")},
         "Name | Size\na | | 3\n| x\n\nBelow\n"},
        {"notes after their paragraph",
         {block(K::paragraph, "Text[1] and[2]."), note("1", "First."), note("2", " Second\nnote "), note("", "bare")},
         "Text[1] and[2].\n\n[1] First.\n[2] Second note\nbare\n"},
        {"preformatted as it is", {block(K::preformatted, "a  b\n\n  c"), block(K::preformatted, "d\n")},
         "a  b\n\n  c\n\nd\n"},
        {"preformatted rows of blanks emptied", {block(K::preformatted, "a\n \t\n\u00a0\u3000\n\u00a0b\n")},
         "a\n\n\n\u00a0b\n"},
        {"preformatted blank dropped", {block(K::preformatted, " \n\u00a0\n"), block(K::paragraph, "x")}, "x\n"},
    };
    for (const Row &row : rows) {
        Document doc;
        doc.blocks = row.blocks;
        EXPECT_EQ(layout_text(doc), row.text) << row.what;
    }
}

TEST(Writer, ListMarkers)
{
    struct Row {
        ListStyle style;
        long number;
        const char *marker;
    } rows[] = {
        {ListStyle::bullet, 4, "•"},          {ListStyle::dash, 4, "-"},
        {ListStyle::decimal, 7, "7."},        {ListStyle::decimal, 0, "0."},
        {ListStyle::decimal, -3, "-3."},      {ListStyle::lower_alpha, 7, "g."},
        {ListStyle::lower_alpha, 26, "z."},   {ListStyle::lower_alpha, 27, "aa."},
        {ListStyle::lower_alpha, 52, "az."},  {ListStyle::lower_alpha, 703, "aaa."},
        {ListStyle::upper_alpha, 28, "AB."},  {ListStyle::lower_alpha, 0, "0."},
        {ListStyle::lower_roman, 7, "vii."},  {ListStyle::lower_roman, 1994, "mcmxciv."},
        {ListStyle::upper_roman, 9, "IX."},   {ListStyle::upper_roman, 3999, "MMMCMXCIX."},
        {ListStyle::upper_roman, 4000, "4000."}, {ListStyle::lower_roman, -1, "-1."},
    };
    for (const Row &row : rows)
        EXPECT_EQ(list_marker(row.style, row.number), row.marker) << row.number;
}

// The output sets of a UTF-8, a C and a Latin-1 locale.
const OutputCharset utf8_out;
const OutputCharset ascii_out{false, true, ""};
const OutputCharset latin1_out{false, false, "ISO-8859-1"};

TEST(Writer, OutputCharsets)
{
    struct Row {
        std::string utf8;
        const OutputCharset &out;
        std::string text;
    } rows[] = {
        {"Café “quoted” ‘single’ 😀", utf8_out, "Café “quoted” ‘single’ 😀"},
        {"Café", ascii_out, "Cafe"},
        {"“quoted” ‘single’ „low“ «guillemets»", ascii_out, "\"quoted\" 'single' \"low\" <<guillemets>>"},
        {"a – b — c… d•e", ascii_out, "a - b -- c... d*e"},
        {"Straße, Æsir, øl, Łódź, œuvre, ĳs", ascii_out, "Strasse, AEsir, ol, Lodz, oeuvre, ijs"},
        {"Dvořák, Şişli, Ångström, Tiếng Việt, Ǆ", ascii_out, "Dvorak, Sisli, Angstrom, Tieng Viet, DZ"},
        {"5\u00a0€ © ® ™ ½ × 2²", ascii_out, "5 EUR (c) (R) TM  1/2 x 22"},
        {"e\u0301t\u0308e\u200b!\ufeff", ascii_out, "ete!"},
        {"ﬁne ﬂow ＡＢＣ Ⅻ ①", ascii_out, "fine flow ABC XII (1)"},
        {"Привет, мир! Щука, ёж, Ўладзімір, Їжак", ascii_out, "Privet, mir! Shchuka, yozh, Uladzimir, Yizhak"},
        {"Ελλάδα, Αθήνα, ψυχή", ascii_out, "Ellada, Athina, psychi"},
        {"日本 😀 \xff end", ascii_out, "?? ? ? end"},
        {"┌─┐\n│x│\n└─┘", ascii_out, "+-+\n|x|\n+-+"},
        {"Café", latin1_out, "Caf\xe9"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(to_output_charset(row.utf8, row.out), row.text) << row.utf8;
}

// ---------------------------------------------------------------- the whole conversion

TEST(ConvertDocument, TextsConvertedOrLeftAlone)
{
    struct Row {
        const char *what;
        std::string bytes;
        const OutputCharset &out;
        bool printed;
        std::string text;
    } rows[] = {
        {"UTF-8 in a UTF-8 locale: shown as it is", "Café\n", utf8_out, false, ""},
        {"ASCII in the C locale: shown as it is", "plain\n", ascii_out, false, ""},
        {"UTF-8 in the C locale", "Café\n", ascii_out, true, "Cafe\n"},
        {"UTF-8 in a Latin-1 locale", "Café\n", latin1_out, true, "Caf\xe9\n"},
        {"CR LF and lone CR line ends", "one\r\ntwo\rthree\r\n", utf8_out, true, "one\ntwo\nthree\n"},
        {"UTF-8 BOM dropped", "\xEF\xBB\xBFtext\n", utf8_out, true, "text\n"},
        {"Windows-1252", encoded(french, "CP1252"), utf8_out, true, french},
        {"KOI8-R in the C locale", encoded("Щука\r\n", "KOI8-R") + encoded(russian, "KOI8-R"), ascii_out, true,
         "Shchuka\n" + to_output_charset(russian, ascii_out)},
        {"UTF-16LE without a BOM", encoded(japanese, "UTF-16LE"), utf8_out, true, japanese},
        {"NUL bytes: a notice", "text\0text\n"s, utf8_out, true, "no text in file.txt (binary data)\n"},
        {"a PDF header alone: the text it is", "%PDF-1.4\n", utf8_out, true, "%PDF-1.4\n"},
        {"empty", "", ascii_out, false, ""},
    };
    for (const Row &row : rows) {
        std::string text = "left over";
        Input in;
        in.bytes = row.bytes;
        in.name = "file.txt";
        EXPECT_EQ(convert_document(in, row.out, text), row.printed) << row.what;
        EXPECT_EQ(text, row.text) << row.what;
    }
}

// ---------------------------------------------------------------- the program

TEST(ConvertProgram, StatusesAndLocales)
{
    harness::TempDir dir;
    const std::string koi8 = dir.path + "/koi8.txt", sjis = dir.path + "/sjis.txt", utf8 = dir.path + "/utf8.txt",
                      fifo = dir.path + "/fifo", missing = dir.path + "/missing";
    harness::write_file(koi8, encoded(russian, "KOI8-R"));
    harness::write_file(sjis, encoded(japanese, "SHIFT_JIS"));
    harness::write_file(utf8, russian);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string usage = "usage: drifterm-convert FILE | --kind FILE | --formats | --help\n";
    struct Row {
        const char *what;
        std::vector<std::string> args;
        const char *locale;
        int status;
        std::string out, err;
    } rows[] = {
        {"help", {"--help"}, "C", 0, usage, ""},
        {"no file", {}, "C", 2, "", usage},
        {"an unknown option", {"--frobnicate"}, "C", 2, "", usage},
        {"two files", {koi8, sjis}, "C", 2, "", usage},
        {"a missing file", {missing}, "C", 1, "", "drifterm-convert: " + missing + ": No such file or directory\n"},
        {"a FIFO is never waited on", {fifo}, "C", 0, "", ""},
        {"a directory", {dir.path}, "C", 0, "", ""},
        {"the kind, for the filter", {"--kind", sjis}, "C", 0, "text\n", ""},
        {"KOI8-R in a UTF-8 locale", {koi8}, "C.UTF-8", 0, russian, ""},
        {"KOI8-R in the C locale", {"--", koi8}, "C", 0, to_output_charset(russian, [] {
             OutputCharset out;
             out.utf8 = false;
             out.ascii = true;
             return out;
         }()),
         ""},
        {"Shift-JIS in a UTF-8 locale", {sjis}, "C.UTF-8", 0, japanese, ""},
        {"UTF-8 in a UTF-8 locale: nothing", {utf8}, "C.UTF-8", 0, "", ""},
    };
    for (const Row &row : rows) {
        harness::Launch launch;
        launch.program = DRIFTERM_CONVERT_BINARY;
        launch.args = row.args;
        launch.env = {{"LC_ALL", row.locale}};
        harness::RunResult r = harness::run_plain(launch, 10000);
        EXPECT_EQ(r.status, row.status) << row.what;
        EXPECT_EQ(r.out, row.out) << row.what;
        EXPECT_EQ(r.err, row.err) << row.what;
    }

    harness::Launch launch;
    launch.program = DRIFTERM_CONVERT_BINARY;
    launch.args = {"--formats"};
    harness::RunResult r = harness::run_plain(launch, 10000);
    EXPECT_EQ(r.status, 0);
    for (const Format &f : formats())
        EXPECT_NE(r.out.find("\n"s + f.name + " "), std::string::npos) << f.name;
    // The row of what is left says so, not what the text row says.
    size_t binary = r.out.find("\nbinary data ");
    ASSERT_NE(binary, std::string::npos);
    std::string row = r.out.substr(binary + 1, r.out.find('\n', binary + 1) - binary - 1);
    EXPECT_NE(row.find("anything no other row takes"), std::string::npos) << row;
}

} // namespace
