// Character sets: BOMs, UTF-16 without one, uchardet's guess, iconv.
#include "convert/convert.h"

bool valid_utf8(std::string_view)
{
    return true;
}

std::string utf16_without_bom(std::string_view)
{
    return "";
}

std::string detect_charset(std::string_view)
{
    return "UTF-8";
}

std::string to_utf8(std::string_view bytes, const std::string &)
{
    return std::string(bytes);
}

void append_utf8(std::string &, uint32_t)
{
}
