// Text preparation: piped input capture and the working copy.
#pragma once

#include <cstdio>
#include <string>

// conversion, reflow and squeezing (convert.cpp)
void convert_with_lesspipe();
void reformat_with_fmt();
void squeeze_blank_lines();
void replace_work_file();
bool is_pdf_name(const char *path);
// `text` single-quoted for the shell, a quote inside written as '\''.
std::string shell_quote(const char *text);

// piped input (piped.cpp)
void capture_piped_input();
FILE *open_terminal_device(const char *name);
