// Small text helpers the readers share.
#include <string>
#include <string_view>
#include <vector>

#include "convert/text.h"

std::string ascii_lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

bool ascii_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool ascii_blank(std::string_view text)
{
    for (char c : text)
        if (!ascii_space(c))
            return false;
    return true;
}

std::string_view trim_blank(std::string_view text)
{
    for (;;) {
        if (!text.empty() && ascii_space(text.front()))
            text.remove_prefix(1);
        else if (text.size() >= 2 && text.substr(0, 2) == "\xC2\xA0")
            text.remove_prefix(2);
        else
            break;
    }
    for (;;) {
        if (!text.empty() && ascii_space(text.back()))
            text.remove_suffix(1);
        else if (text.size() >= 2 && text.substr(text.size() - 2) == "\xC2\xA0")
            text.remove_suffix(2);
        else
            break;
    }
    return text;
}

int hex_digit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

namespace {

const std::string_view roman_digits[] = {"m", "cm", "d", "cd", "c", "xc", "l", "xl", "x", "ix", "v", "iv", "i"};
const long roman_values[] = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};

} // namespace

std::string roman_numeral(long number, bool upper)
{
    std::string out;
    for (size_t k = 0; k < 13; k++)
        for (; number >= roman_values[k]; number -= roman_values[k])
            out += roman_digits[k];
    if (upper)
        for (char &c : out)
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

long roman_value(std::string_view text)
{
    std::string lower = ascii_lower(text);
    std::string_view rest = lower;
    long value = 0;
    for (size_t k = 0; k < 13; k++)
        while (rest.substr(0, roman_digits[k].size()) == roman_digits[k]) {
            value += roman_values[k];
            rest.remove_prefix(roman_digits[k].size());
        }
    // Only the usual spelling counts ("iiii" or "ic" is no numeral).
    if (!rest.empty() || value == 0 || value > 3999 || roman_numeral(value, false) != lower)
        return 0;
    return value;
}

bool ends_sentence(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == ')' || s.back() == '"' || s.back() == '\'' || s.back() == ']'))
        s.remove_suffix(1);
    if (s.size() >= 3 && (s.substr(s.size() - 3) == "\xE2\x80\x9D" || s.substr(s.size() - 3) == "\xE2\x80\x99"))
        s.remove_suffix(3);
    return !s.empty() && (s.back() == '.' || s.back() == '!' || s.back() == '?' || s.back() == ':' || s.back() == ';');
}

std::string percent_decoded(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        int high = i + 2 < text.size() && text[i] == '%' ? hex_digit(text[i + 1]) : -1;
        int low = high >= 0 ? hex_digit(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string path_resolved(std::string_view path)
{
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string out;
    for (std::string_view part : parts) {
        if (!out.empty())
            out += '/';
        out += part;
    }
    return out;
}
