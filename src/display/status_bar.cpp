// The status bar and its string helpers. (Helpers only, for now.)
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "display/display.h"

void draw_status_bar(uint64_t, uint64_t) {}

char *shorten_name(const char *text, int32_t limit)
{
    size_t length = strlen(text);
    size_t keep = length < (size_t)limit ? length : (size_t)limit;
    char *result = (char *)malloc(keep + 2);
    if (!result)
        die_on_screen("malloc()");
    memcpy(result, text, keep);
    result[keep] = '\0';
    if (length > keep)
        strcat(result, "~");
    return result;
}

const char *base_name(const char *path)
{
    const char *slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

float percent_of(uint64_t line_no, uint64_t total_lines)
{
    if (total_lines == 0)
        return 0;
    return (float)line_no / (float)total_lines * 100.0f;
}
