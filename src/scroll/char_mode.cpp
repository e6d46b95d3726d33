// Character mode. (Not yet.)
#include "app/app.h"
#include "scroll/scroll.h"

void scroll_chars(uint32_t) {}

uint32_t typing_row()
{
    return options.start_row ? reader.display_row : reader.display_row >> 1;
}
