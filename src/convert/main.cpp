// drifterm-convert FILE: prints FILE as plain text in the locale's
// character set, or nothing when it is a text fit to show as it is.
#include <cstdio>

#include "convert/convert.h"

int main(int argc, char **argv)
{
    (void)argc;
    (void)argv;
    xml_init();
    return 0;
}
