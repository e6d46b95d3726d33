// Character sets: UTF-8 checked and decoded, BOMs, UTF-16 and UTF-32
// without one, uchardet's guess, and iconv.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

bool valid_utf8(std::string_view bytes);
// Where the run of ASCII bytes from `at` ends: the first byte past it, or the size.
size_t ascii_run_end(std::string_view bytes, size_t at);
// The code point at `at` in UTF-8 `text`, and `at` moved past it; a byte
// that starts no valid sequence is U+FFFD and moves `at` by one.
uint32_t next_code_point(std::string_view text, size_t &at);
// A UTF-8 rendering of one code point (U+FFFD for a value that is none).
void append_utf8(std::string &out, uint32_t code_point);

// The set a byte-order mark at the start names ("UTF-8", "UTF-16LE"...), or "".
std::string bom_charset(std::string_view bytes);
// The byte order of UTF-16 text without a BOM ("UTF-16LE"/"UTF-16BE"), or "".
std::string utf16_without_bom(std::string_view bytes);
// The byte order of UTF-32 text without a BOM ("UTF-32LE"/"UTF-32BE"), or "".
std::string utf32_without_bom(std::string_view bytes);
// The bytes' character set, for iconv: a BOM first, then BOM-less UTF-16,
// valid UTF-8, then uchardet; WINDOWS-1252 for 8-bit text nothing else fits.
std::string detect_charset(std::string_view bytes);
// Text rather than a binary format, by its first 64 KiB: a BOM, UTF-16 or
// UTF-32 without one, or no NUL byte.
bool looks_like_text(std::string_view bytes);
// True for a text to show as it is: valid UTF-8 without a BOM, CR, NUL or
// ISO 2022 escape; `ascii` tells whether it is all ASCII too.
bool text_fit_as_is(std::string_view bytes, bool &ascii);

// The set that text declared or guessed to be in `name` is really written
// in: the Windows code page that extends it (SHIFT_JIS as CP932, whose
// 0x5C is a backslash and no yen sign; EUC-KR as CP949; GB2312 as
// GB18030; ISO-8859-1 as WINDOWS-1252); any other name as it is.
std::string widened_charset(const std::string &name);
// `bytes` in `charset` (widened) as UTF-8; a BOM is dropped, a sequence that is no
// character becomes U+FFFD and the conversion goes on.
std::string to_utf8(std::string_view bytes, const std::string &charset);
// Stands in for a sequence iconv cannot convert at the head of `rest`:
// puts its replacement in `replacement` and returns the bytes it covers.
using IconvStandIn = std::function<size_t(std::string_view rest, std::string &replacement)>;
// `bytes` from set `from` to set `to` through iconv, into `out`, each
// sequence it cannot convert replaced by `stand_in`; `restart` puts a
// stateful set back to its start after one. False when iconv knows neither.
bool iconv_convert(std::string_view bytes, const std::string &from, const std::string &to, bool restart,
                   const IconvStandIn &stand_in, std::string &out);
