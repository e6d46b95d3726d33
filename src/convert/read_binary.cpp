// Bytes of no known kind that are not text.
#include "convert/convert.h"

bool read_binary(const Input &, Document &)
{
    return false;
}
