// The mobi reader.
#include "convert/convert.h"

bool read_mobi(const Input &, Document &)
{
    return false;
}
