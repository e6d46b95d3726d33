// Editor choice and launch. (Not yet.)
#include "app/app.h"
#include "control/control.h"

void choose_editor() { reader.editor = "None"; }
void launch_editor(uint64_t) {}
