// The one text writer: blocks to rows, and rows to the output set.
#include "convert/convert.h"

std::string layout_text(const Document &)
{
    return "";
}

std::string to_output_charset(std::string_view utf8, const OutputCharset &)
{
    return std::string(utf8);
}

std::string list_marker(ListStyle, long)
{
    return "•";
}
