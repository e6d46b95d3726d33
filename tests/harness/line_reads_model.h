// The reference for the copy and the squeeze of the working copy: the plain
// loop they replace, fgets into a 1024-byte buffer with each read written
// back as a C string. A read ends after a newline or after 1023 bytes, and
// whatever follows a NUL within a read is lost; squeezing keeps only the
// first of a run of blank reads (those that begin with a CR or a LF).
// Free of GoogleTest, so that the fuzz targets can include it too.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string line_reads_model(const std::string &text, bool squeeze)
{
    std::string out;
    if (text.empty())
        return out; // fmemopen may refuse an empty buffer: nothing to read anyway
    std::string in = text; // fmemopen wants a writable buffer
    FILE *stream = fmemopen(in.data(), in.size(), "r");
    if (!stream)
        abort();
    char line[1024];
    bool in_blank_run = false;
    while (fgets(line, sizeof line, stream)) {
        bool blank = line[0] == '\r' || line[0] == '\n';
        if (!squeeze || !blank || !in_blank_run)
            out += line;
        in_blank_run = blank;
    }
    fclose(stream);
    return out;
}
