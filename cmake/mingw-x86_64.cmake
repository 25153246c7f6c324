# The same sources built for 64-bit Windows, only to run the Win32 suites on a Linux
# that cannot run 32-bit programs (and so no 32-bit Wine). The product is the i686
# build; see cmake/mingw-i686.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_triplet x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
