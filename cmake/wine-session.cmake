# Read by CTest before it reads any test of a cross build (TEST_INCLUDE_FILES of the
# top folder): outside the Wine session, stop at once with the message of
# cmake/wine-emulator.sh, before test discovery starts Wine.
execute_process(COMMAND /bin/bash "${CMAKE_CURRENT_LIST_DIR}/wine-emulator.sh" true
  RESULT_VARIABLE outside_the_session)
if(outside_the_session)
  message(FATAL_ERROR "no test was run")
endif()
