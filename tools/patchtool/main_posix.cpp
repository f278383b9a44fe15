// patchtool's entry point on Linux: arguments and output are UTF-8 already.
#include <unistd.h>

#include <iostream>

#include "tools/patchtool/cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunPatchtool(args, ::isatty(STDOUT_FILENO) != 0, std::cout, std::cerr);
}
