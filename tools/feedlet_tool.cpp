// feedlet-tool: command-line access to the engine, with the same behaviour
// natively and on Windows. Every command prints UTF-8.
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "feedlet_version.h"
#include "platform/platform.h"
#include "tool.h"

namespace feedlet {
namespace tool {
// Commands, one per cmd_*.cpp.
int RunDate(int argc, char** argv);
int RunExpand(int argc, char** argv);
int RunTree(int argc, char** argv);
int RunDump(int argc, char** argv);
int RunTokens(int argc, char** argv);
}  // namespace tool
}  // namespace feedlet

namespace {

using feedlet::tool::Command;

const Command kCommands[] = {
    {"expand",
     "expand LOCATION FORMAT [--function 1|2] [--condition C] [--num N] [--time SECONDS] "
     "[--split TEXT] [--zone MINUTES] [--now PLUGIN_TIME] [--sort]",
     feedlet::tool::RunExpand},
    {"version", "version", [](int, char**) {
         std::printf("feedlet-tool " FEEDLET_FILE_VERSION_TEXT "\n");
         return 0;
     }},
    {"date", "date rfc822|w3c TEXT", feedlet::tool::RunDate},
    {"tree", "tree LOCATION", feedlet::tool::RunTree},
    {"dump", "dump LOCATION [--sort] [--count]", feedlet::tool::RunDump},
    {"tokens", "tokens", feedlet::tool::RunTokens},
};

int Usage() {
    std::fprintf(stderr, "usage:\n");
    for (const Command& c : kCommands) std::fprintf(stderr, "  feedlet-tool %s\n", c.usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes go out untouched
#endif
    feedlet::platform::SetUserTimeLocale();
    if (argc < 2) return Usage();
    for (const Command& c : kCommands)
        if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
    return Usage();
}
