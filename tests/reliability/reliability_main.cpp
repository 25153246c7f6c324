#include <gtest/gtest.h>

#include "tests/reliability/reliability_support.hpp"
#include "tests/win32/test_support.hpp"

int main(int argc, char** argv) {
    // The suites start this program again as the other process that holds, locks,
    // deletes or overwrites a file.
    if (const auto code = tervan::reliability::RunReliabilityMode()) return *code;
    if (const auto code = tervan::testing::RunChildMode()) return *code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
