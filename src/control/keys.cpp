// Key commands. (Not yet.)
#include "app/app.h"
#include "control/control.h"

KeyAction poll_key() { return ACTION_NONE; }
KeyAction key_action_of(int) { return ACTION_NONE; }
void handle_keys(uint32_t *, uint32_t, int32_t *, uint64_t, uint64_t) {}
