# The Windows tests run under Wine, one at a time, in a sealed prefix inside the build folder.
# The prefix is made and sealed at build time (target wine_prefix), before any test runs; a CTest
# fixture starts the Wine session (and Xvfb) before the tests and stops it after them.
set(ZP_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
set(ZP_WINE_TOOLS ${PROJECT_SOURCE_DIR}/tests/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZP_WINE_TOOLS}/wine-run ${ZP_WINE_ROOT})

add_custom_target(wine_prefix ALL
  COMMAND ${ZP_WINE_TOOLS}/prefix-create ${ZP_WINE_ROOT}
  USES_TERMINAL
  COMMENT "Creating and sealing the Wine prefix")

add_test(NAME wine.session.start COMMAND ${ZP_WINE_TOOLS}/session-start ${ZP_WINE_ROOT})
add_test(NAME wine.session.stop COMMAND ${ZP_WINE_TOOLS}/session-stop ${ZP_WINE_ROOT})
set_tests_properties(wine.session.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 1200
                     RESOURCE_LOCK wine)
set_tests_properties(wine.session.stop PROPERTIES FIXTURES_CLEANUP wine RESOURCE_LOCK wine)

# zp_add_wine_test(NAME name COMMAND target [ARGS ...] [COPY files ...] [TIMEOUT seconds])
function(zp_add_wine_test)
  cmake_parse_arguments(T "" "NAME;COMMAND;TIMEOUT" "ARGS;COPY" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 900)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND} ${T_ARGS})
  list(JOIN T_COPY ":" copy)
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine
                       TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "ZP_WINE_COPY=${copy};ZP_WINE_TIMEOUT=${T_TIMEOUT}")
  add_dependencies(${T_COMMAND} wine_prefix)
endfunction()
