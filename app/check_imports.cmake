cmake_minimum_required(VERSION 3.25)
# Fails when the exe imports a DLL that is not a KnownDLL, or lacks the Remote Desktop
# mark. COMCTL32 is no KnownDLL: the loader would map it, and look for the DLLs it
# needs, before the program narrows the DLL search.
# cmake -DOBJDUMP=... -DEXE=... -P check_imports.cmake
set(allowed advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32 shell32
  shlwapi user32)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(import IN LISTS imports)
  string(TOLOWER "${import}" import)
  string(REGEX REPLACE "dll name: ([^.]+)\\.dll" "\\1" name "${import}")
  if(NOT name IN_LIST allowed)
    message(SEND_ERROR "${EXE} imports ${name}.dll, which Windows looks for beside the exe")
  endif()
endforeach()
if(NOT headers MATCHES "TERMINAL_SERVICE_AWARE")
  message(SEND_ERROR "${EXE} is not marked terminal-server aware (-Wl,--tsaware)")
endif()
