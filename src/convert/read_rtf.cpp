// The rtf reader.
#include "convert/convert.h"

bool read_rtf(const Input &, Document &)
{
    return false;
}
