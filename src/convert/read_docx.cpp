// The docx reader.
#include "convert/convert.h"

bool read_docx(const Input &, Document &)
{
    return false;
}
