// The epub reader.
#include "convert/convert.h"

bool read_epub(const Input &, Document &)
{
    return false;
}
