// Command line. (Leading file arguments only, for now.)
#include <cstdlib>
#include <cstring>

#include "app/app.h"

void parse_command_line(int argc, char **argv)
{
    if (argc < 2)
        print_usage();
    for (int i = 1; i < argc && argv[i][0] != '-'; i++) {
        options.piped = 0;
        if (strlen(argv[i]) > 1024)
            print_usage();
        options.file_path = strdup(argv[i]);
        if (!options.file_path)
            die("malloc()");
        reader.source_file = fopen(options.file_path, "r");
        if (!reader.source_file)
            die("fopen()");
    }
    run_reader(options.speed_ms);
}

[[noreturn]] void print_usage()
{
    if (reader.screen_up && !isendwin())
        endwin();
    printf("Usage: %s [OPTIONS]\n", reader.program_name);
    exit(0);
}

bool is_all_digits(const char *text)
{
    for (; *text; text++)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}
