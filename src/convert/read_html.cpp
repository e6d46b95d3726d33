// The html reader.
#include "convert/convert.h"

bool read_html(const Input &, Document &)
{
    return false;
}

void html_blocks(XmlNode, Document &)
{
}

bool html_bytes_blocks(std::string_view, Document &)
{
    return false;
}
