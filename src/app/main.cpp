// The executable's entry point; everything else is in the storm_core library.
#include "app/shell.h"

int main(int argc, char** argv)
{
    return storm_main(argc, argv);
}
