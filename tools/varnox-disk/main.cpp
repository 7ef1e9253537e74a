#include <iostream>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "tool.h"

int main(int argc, char** argv) {
#ifdef _WIN32
    // read and write move raw disk bytes through standard output and input: no newline
    // translation, no end of file at the first 0x1A.
    if (_setmode(_fileno(stdout), _O_BINARY) == -1 || _setmode(_fileno(stdin), _O_BINARY) == -1) {
        std::cerr << "varnox-disk: _setmode(_O_BINARY) failed on the standard streams\n";
        return varnox::disk_tool::EXIT_FAILED;
    }
#endif
    std::vector<std::string_view> args(argv + 1, argv + argc);
    varnox::disk_tool::ToolStreams streams{std::cin, std::cout, std::cerr};
    return varnox::disk_tool::RunTool(args, streams);
}
