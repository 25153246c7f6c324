#include <gtest/gtest.h>

#include "tests/win32/test_support.hpp"

int main(int argc, char** argv) {
    // The suites start this program again to hold files open (see test_support.hpp).
    if (const auto code = tervan::testing::RunChildMode()) return *code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
