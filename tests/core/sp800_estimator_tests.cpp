// Placeholder suite, filled in with the estimators it covers.
#include <cstdio>

#include "suites.hpp"

int run_sp800_estimator_tests(bool) {
    std::printf("sp800_estimators: no checks yet\n");
    return 0;
}
