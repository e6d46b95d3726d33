// The pdf reader.
#include "convert/convert.h"

bool read_pdf(const Input &, Document &)
{
    return false;
}
