// The odt reader.
#include "convert/convert.h"

bool read_odt(const Input &, Document &)
{
    return false;
}
