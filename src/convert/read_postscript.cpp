// The postscript reader.
#include "convert/convert.h"

bool read_postscript(const Input &, Document &)
{
    return false;
}
