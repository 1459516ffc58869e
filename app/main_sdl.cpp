// The glimmerdex executable: the shell has split the command line already.
#include "app/app_main.h"

int main(int argc, char** argv)
{
    return app_main(argv + 1, argc > 0 ? argc - 1 : 0);
}
