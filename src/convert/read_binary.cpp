// Bytes of no known kind that are not text: a notice that names what they
// look like, "no text in photo.png (PNG image)", instead of raw bytes on
// the screen. Text in any encoding is never given one.
#include <string_view>

#include "convert/charset.h"
#include "convert/formats.h"
#include "convert/notices.h"
#include "convert/readers.h"

using namespace std::string_view_literals;

namespace {

struct Magic {
    std::string_view bytes;
    size_t at;
    const char *type;
};

// Longer and more particular marks before the shorter ones they share a
// start with ("!<arch>\ndebian" before "!<arch>\n").
const Magic magics[] = {
    {"\x89PNG\r\n\x1a\n"sv, 0, "PNG image"},
    {"\xff\xd8\xff"sv, 0, "JPEG image"},
    {"GIF87a"sv, 0, "GIF image"},
    {"GIF89a"sv, 0, "GIF image"},
    {"WEBP"sv, 8, "WebP image"},
    {"WAVE"sv, 8, "WAV audio"},
    {"AVI "sv, 8, "AVI video"},
    {"II*\0"sv, 0, "TIFF image"},
    {"MM\0*"sv, 0, "TIFF image"},
    {"BM"sv, 0, "BMP image"},
    {"\0\0\1\0"sv, 0, "icon"},
    {"PK\x03\x04"sv, 0, "ZIP archive"},
    {"PK\x05\x06"sv, 0, "ZIP archive"},
    {"7z\xbc\xaf\x27\x1c"sv, 0, "7-Zip archive"},
    {"Rar!\x1a\x07"sv, 0, "RAR archive"},
    {"ustar"sv, 257, "tar archive"},
    {"!<arch>\ndebian-binary"sv, 0, "Debian package"},
    {"!<arch>\n"sv, 0, "ar archive"},
    {"\xed\xab\xee\xdb"sv, 0, "RPM package"},
    {"MSCF"sv, 0, "cabinet archive"},
    {"\x7f" "ELF"sv, 0, "ELF executable"},
    {"MZ"sv, 0, "Windows executable"},
    {"\xcf\xfa\xed\xfe"sv, 0, "Mach-O executable"},
    {"\xce\xfa\xed\xfe"sv, 0, "Mach-O executable"},
    {"\xca\xfe\xba\xbe"sv, 0, "Java class or Mach-O executable"},
    {"\0asm"sv, 0, "WebAssembly module"},
    {"SQLite format 3\0"sv, 0, "SQLite database"},
    {"ID3"sv, 0, "MP3 audio"},
    {"\xff\xfb"sv, 0, "MP3 audio"},
    {"OggS"sv, 0, "Ogg media"},
    {"fLaC"sv, 0, "FLAC audio"},
    {"ftyp"sv, 4, "MP4 media"},
    {"\x1a\x45\xdf\xa3"sv, 0, "Matroska media"},
    {"OTTO"sv, 0, "OpenType font"},
    {"\0\1\0\0"sv, 0, "TrueType font"},
    {"wOFF"sv, 0, "WOFF font"},
    {"wOF2"sv, 0, "WOFF font"},
    {"CD001"sv, 0x8001, "ISO 9660 image"},
};

} // namespace

const char *binary_type(std::string_view bytes)
{
    for (const Magic &m : magics)
        if (bytes.size() >= m.at + m.bytes.size() && bytes.substr(m.at, m.bytes.size()) == m.bytes)
            return m.type;
    return nullptr;
}

ReadResult read_binary(const Input &in, Document &doc)
{
    if (in.bytes.empty() || looks_like_text(in.bytes))
        return ReadResult::not_this_format;
    const char *type = binary_type(in.bytes);
    return notice(doc, NoticeKind::no_text, in.name, type ? type : "binary data");
}
