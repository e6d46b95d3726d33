// Small text helpers the readers share: ASCII case and blanks, numbers
// in hexadecimal and in roman numerals, the end of a sentence.
#pragma once

#include <string>
#include <string_view>

// `text` with its ASCII letters in lower case.
std::string ascii_lower(std::string_view text);
// Whether `a` and `b` are the same but for the case of ASCII letters.
bool equal_ignoring_case(std::string_view a, std::string_view b);
// Space, tab, line ends, form feed, vertical tab.
bool ascii_space(char c);
// True when `text` holds nothing but ASCII white space.
bool ascii_blank(std::string_view text);
// Trimmed of white space (ASCII and no-break spaces) at both ends.
std::string_view trim_blank(std::string_view text);
// A hexadecimal digit's value, or -1.
int hex_digit(char c);
// `number` (1 to 3999) in roman numerals, lower or upper case.
std::string roman_numeral(long number, bool upper);
// The value of a roman numeral in either case, spelt the usual way
// ("iv", not "iiii"); 0 for anything else.
long roman_value(std::string_view text);
// Whether a row ends a sentence: ".", "!", "?", ":" or ";", before any
// closing brackets and quotation marks.
bool ends_sentence(std::string_view text);
// %XX sequences decoded; any other "%" kept.
std::string percent_decoded(std::string_view text);
// A path's parts with "." and ".." resolved and empty ones dropped,
// joined by "/", without a slash at either end ("a/./b/../c" -> "a/c").
std::string path_resolved(std::string_view path);
