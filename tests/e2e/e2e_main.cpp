#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "platform/win32/administrator.hpp"
#include "platform/win32/text.hpp"
#include "tests/e2e/scenario.hpp"
#include "ui/forms/layout.hpp"
#include "ui/win32/form_window.hpp"

namespace {

// What the suites' results depend on, one fact a line (run-tests.cmd's results.txt).
int DescribeSystem() {
    wchar_t system[LOCALE_NAME_MAX_LENGTH] = L"?", user[LOCALE_NAME_MAX_LENGTH] = L"?";
    GetSystemDefaultLocaleName(system, LOCALE_NAME_MAX_LENGTH);
    GetUserDefaultLocaleName(user, LOCALE_NAME_MAX_LENGTH);
    std::printf("elevated: %s\n", tervan::RunsElevated() ? "yes" : "no");
    std::printf("system locale: %s, user locale: %s, ANSI code page: %u\n",
                tervan::Narrow(system).c_str(), tervan::Narrow(user).c_str(), GetACP());
    std::printf("DPI: %d\n", tervan::e2e::SessionDpi());
    std::printf("MS PGothic: %s\n",
                tervan::FaceInstalled(tervan::Widen(tervan::kFontFace)) ? "installed" : "missing");
    std::printf("under Wine: %s\n", tervan::testing::UnderWine() ? "yes" : "no");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The windows are measured in pixels as they are on the screen: a process unaware
    // of the DPI would get them scaled back to 96 DPI.
    SetProcessDPIAware();
    if (argc == 2 && std::strcmp(argv[1], "--describe-system") == 0) return DescribeSystem();
    // The suites start this program again to hold files open (see test_support.hpp).
    if (const auto code = tervan::testing::RunChildMode()) return *code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
