// The working copy. (A plain copy, for now.)
#include <cstdio>
#include <string>

#include "app/app.h"
#include "prepare/prepare.h"

void convert_with_lesspipe()
{
    puts("Loading..");
    fflush(stdout);
    FILE *in = fopen(options.file_path, "r");
    if (!in)
        die("fopen()");
    FILE *out = fopen(work_files.converted_path, "w");
    if (!out)
        die("fopen()");
    char line[1024];
    while (fgets(line, sizeof line, in))
        fputs(line, out);
    fclose(in);
    fclose(out);
}

void reformat_with_fmt() {}
void squeeze_blank_lines() {}
void replace_work_file() {}
bool is_pdf_name(const char *) { return false; }

std::string shell_quote(const char *text)
{
    std::string quoted = "'";
    for (; *text; text++) {
        if (*text == '\'')
            quoted += "'\\''";
        else
            quoted += *text;
    }
    return quoted + "'";
}
