// glimmerdex-cli sheet: placeholder until the viewer's grid can be drawn headless here.
#include "app/cli/cli.h"

int cli_sheet(int, char**)
{
    cli_error("sheet: not available yet");
    return CLI_FAILED;
}
