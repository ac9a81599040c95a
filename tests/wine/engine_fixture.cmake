# Set-up and clean-up of the wine_engine suite's host installation (see CMakeLists.txt).
#   cmake -DACTION=setup -DRUN_DIR=<folder> -DHOST_EXE=<Windows path> -DWINE_RUN=<wine-run> -P engine_fixture.cmake
#   cmake -DACTION=cleanup -DWINE_RUN=<wine-run> -P engine_fixture.cmake
set(key "HKLM\\Software\\KESTA")

if(ACTION STREQUAL "setup")
  file(REMOVE_RECURSE "${RUN_DIR}")
  execute_process(COMMAND ${WINE_RUN} reg add "${key}" /v PATH /t REG_SZ /d "${HOST_EXE}" /f
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "reg add ${key} PATH failed (${rc}): ${err}")
  endif()
elseif(ACTION STREQUAL "cleanup")
  execute_process(COMMAND ${WINE_RUN} reg delete "${key}" /v PATH /f
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "reg delete ${key} PATH failed (${rc})")
  endif()
else()
  message(FATAL_ERROR "ACTION must be setup or cleanup")
endif()
