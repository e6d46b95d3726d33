// The fb2 reader.
#include "convert/convert.h"

bool read_fb2(const Input &, Document &)
{
    return false;
}
