// Highlight and case conversion. (Not yet.)
#include "app/app.h"
#include "scroll/scroll.h"

void check_highlight(const char *, uint32_t, uint32_t, int32_t, uint64_t, uint64_t) {}
void convert_case(char *) {}
