// patchtool's entry point on Windows: UTF-16 arguments become UTF-8 for the portable code, and the
// console is switched to UTF-8 so names and greetings print as written.
#include <windows.h>

#include <iostream>

#include "platform/text.h"
#include "tools/patchtool/cli.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(platform::ConvertWideToUtf8(argv[i]));
    SetConsoleOutputCP(CP_UTF8);
    DWORD mode = 0;
    bool terminal = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    return RunPatchtool(args, terminal, std::cout, std::cerr);
}
