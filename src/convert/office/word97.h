// Word 97-2003 documents (.doc) read from the file itself.
#pragma once

#include <string>
#include <string_view>

#include "convert/document.h"

// Fills `doc` with the blocks of the Word 97-2003 document held in `bytes`
// (a compound file): headings, list items with their numbers, table rows,
// footnotes after their paragraph and endnotes at the end, as the DOCX
// reader gives them. False, with the reason in `why_not`, for a file it
// cannot read (Word 6 or 95, encrypted, broken), which then stays empty.
bool word97_read(std::string_view bytes, Document &doc, std::string &why_not);
