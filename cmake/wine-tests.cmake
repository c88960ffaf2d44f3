# Running Windows programs in tests: the emulator wrapper for this tree and a
# CTest fixture that owns the Wine session around the tests that need it.
configure_file("${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in" "${CMAKE_BINARY_DIR}/wine-run.sh"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
  @ONLY)
set(UNPACK_WINE_RUN "${CMAKE_BINARY_DIR}/wine-run.sh")

# With UNPACK_WINE_DISPLAY_FILE set (and an xvfb fixture that writes it), the
# session's desktop lives on that virtual display.
if(NOT TEST wine.start)
  add_test(NAME wine.start COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-session.sh" start "${UNPACK_WINEPREFIX}"
           "${UNPACK_WINE_DISPLAY_FILE}")
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  if(UNPACK_WINE_DISPLAY_FILE)
    set_tests_properties(wine.start PROPERTIES FIXTURES_REQUIRED xvfb)
  endif()
  add_test(NAME wine.stop COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-session.sh" stop "${UNPACK_WINEPREFIX}")
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# A test that runs under Wine. MACHINE: it touches the machine-wide log,
# work directory or mutex, so it runs alone among those that do. Its program
# ends with 77 when cases were skipped and none failed
# (tests/support/skip_aware_main.cpp): CTest then reports it as skipped.
function(unpack_wine_test name)
  cmake_parse_arguments(ARG "MACHINE" "" "COMMAND" ${ARGN})
  add_test(NAME ${name} COMMAND ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 600 SKIP_RETURN_CODE 77)
  if(ARG_MACHINE)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK unpack_machine)
  endif()
endfunction()
