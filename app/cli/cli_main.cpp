// glimmerdex-cli: dispatch to the commands.
#include <cstdio>
#include <cstring>

#include "app/cli/cli.h"
#include "platform/system.h"

namespace {

const char usage[] =
    "Usage: glimmerdex-cli COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Reads Windows thumbnail caches (Thumbs.db) without a window.\n"
    "\n"
    "Commands:\n"
    "  list PATH...            the entries of caches (folders or cache files)\n"
    "  extract CACHE... DIR    every thumbnail into DIR, with report.csv\n"
    "  sheet CACHE OUT.png     a contact sheet of the viewer's grid\n"
    "  decode FILE OUT         decode a picture file to OUT (.png or .raw)\n"
    "\n"
    "  glimmerdex-cli COMMAND --help   help for one command\n"
    "  glimmerdex-cli --version        the version\n"
    "\n"
    "Exit codes: 0 success, 1 the input could not be read, 2 usage error.\n";

} // namespace

int main(int argc, char** argv)
{
    sys_binary_stdout();  // the same bytes on every platform: "\n" ends a line
    cli_invocation.assign(argv, argv + argc);
    if (argc < 2) {
        std::fputs(usage, stderr);
        return CLI_USAGE;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        std::fputs(usage, stdout);
        return CLI_OK;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("glimmerdex-cli %s\n", GLIMMERDEX_VERSION);
        return CLI_OK;
    }
    if (std::strcmp(command, "list") == 0)
        return cli_list(argc - 2, argv + 2);
    if (std::strcmp(command, "decode") == 0)
        return cli_decode(argc - 2, argv + 2);
    if (std::strcmp(command, "extract") == 0)
        return cli_extract(argc - 2, argv + 2);
    if (std::strcmp(command, "sheet") == 0)
        return cli_sheet(argc - 2, argv + 2);
    cli_error("unknown command '%s' (try --help)", command);
    return CLI_USAGE;
}
