// The text reader.
#include "convert/convert.h"

bool read_text(const Input &, Document &)
{
    return false;
}
