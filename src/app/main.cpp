#include "app/startup.h"

int main(int argc, char **argv)
{
    return drifterm_main(argc, argv);
}
