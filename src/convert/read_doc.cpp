// The doc reader.
#include "convert/convert.h"

bool read_doc(const Input &, Document &)
{
    return false;
}
