# gtest_discover_tests for a suite that runs under Wine. The tests are listed at test
# time (DISCOVERY_MODE PRE_TEST) through the target's emulator, which refuses to start
# outside the Wine session (cmake/wine-emulator.sh); a listing under Wine gets 60 s.
#
#   wine_discover_tests(TARGET SLOW gtest-filter [gtest_discover_tests arguments])
#
# The tests that match SLOW (a --gtest_filter pattern, ':' between parts) get the
# label "slow", so that scripts/test-windows.sh -LE slow leaves them out: the target
# is listed twice, once for each half. A part that matches no test (a renamed one)
# labels nothing. The labels of every test of a folder are the folder's
# (set_property(DIRECTORY APPEND PROPERTY LABELS ...)). Test names are the cases' own
# names (the suites' name generators), without the printed parameter that CMake
# 3.25 would append to them (NO_PRETTY_VALUES).
include(GoogleTest)

function(wine_discover_tests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SLOW" "PROPERTIES")
  set(common ${target} ${arg_UNPARSED_ARGUMENTS}
    DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)
  gtest_discover_tests(${common} TEST_FILTER "-${arg_SLOW}" PROPERTIES ${arg_PROPERTIES})
  gtest_discover_tests(${common} TEST_FILTER "${arg_SLOW}"
    PROPERTIES ${arg_PROPERTIES} LABELS slow)
endfunction()
