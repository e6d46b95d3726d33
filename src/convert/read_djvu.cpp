// The djvu reader.
#include "convert/convert.h"

bool read_djvu(const Input &, Document &)
{
    return false;
}
