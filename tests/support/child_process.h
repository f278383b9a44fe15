#pragma once
// Runs this test program again as a child, for tests that need a process to die mid-way.
#include <string>

namespace test {

// Starts the running executable with the environment variable `name` set to `value` (and
// "--gtest_list_tests", so a child that does not act on the variable runs no test), waits for it
// and gives its exit code; -1 when it could not be started.
int RunSelfWith(const std::string& name, const std::string& value);

}  // namespace test
