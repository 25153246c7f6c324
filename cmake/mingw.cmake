# Shared by the two cross toolchains: MinGW-w64 with posix threads (Debian's
# g++-mingw-w64-*-posix) for the target `mingw_triplet`. Tests run under Wine through
# the emulator setting, and only inside the Wine session of scripts/wine-env.sh
# (cmake/wine-emulator.sh).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
foreach(kind LIBRARY INCLUDE PACKAGE)
  set(CMAKE_FIND_ROOT_PATH_MODE_${kind} ONLY)
endforeach()

set(CMAKE_CROSSCOMPILING_EMULATOR /bin/bash ${CMAKE_CURRENT_LIST_DIR}/wine-emulator.sh wine)

# Without -static the exe needs libgcc_s_dw2-1.dll, libstdc++-6.dll and
# libwinpthread-1.dll next to it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
