// Piped input. (Not yet: piped mode stops here.)
#include <cerrno>

#include "app/app.h"
#include "prepare/prepare.h"

void capture_piped_input()
{
    if (!options.piped)
        return;
    open_terminal_device(options.tty_name);
}

FILE *open_terminal_device(const char *)
{
    errno = EFAULT;
    die(nullptr);
}
