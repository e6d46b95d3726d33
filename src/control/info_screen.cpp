// Information screen. (Not yet.)
#include "control/control.h"

void show_info_screen(uint32_t, uint32_t, uint64_t, uint64_t) {}
