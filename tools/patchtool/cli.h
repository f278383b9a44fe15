#pragma once
// The command line of patchtool: build, inspect, verify, apply.
#include <ostream>
#include <string>
#include <vector>

// `args` are the arguments after the program name, as UTF-8. `terminal` tells whether the
// standard output is a terminal (progress bar) or a file or pipe (plain lines).
int RunPatchtool(const std::vector<std::string>& args, bool terminal, std::ostream& out, std::ostream& err);
