// The chm reader.
#include "convert/convert.h"

bool read_chm(const Input &, Document &)
{
    return false;
}
