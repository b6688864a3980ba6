// The core test program: every suite in turn, then one exit status for all.
//
//   veltrane_core_tests            the short form (what the test command runs)
//   veltrane_core_tests --long     exhaustive variants as well
#include <string>

#include "suites.hpp"

int main(int argc, char** argv) {
    const bool long_form = argc > 1 && std::string(argv[1]) == "--long";
    int failures = 0;
    for (int (*suite)(bool) : {&run_core_tests, &run_fragment_tests, &run_battery_tests}) failures += suite(long_form);
    return failures == 0 ? 0 : 1;
}
