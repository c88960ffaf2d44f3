# Settings for the launcher's own code (framework, hardening, diagnostics, package,
# launcher). unpack_win_api travels to every user of that code (tests
# included): Unicode Win32 and the include root. unpack_launcher_flags stays
# private to the launcher's libraries: no exceptions or RTTI, sections that
# the linker can drop, so that the shipped image stays small; and no C++
# standard headers on the include path, so that a standard-library string,
# container or stream in launcher code fails to compile (the C headers of
# the Windows SDK stay available).
add_library(unpack_win_api INTERFACE)
target_compile_definitions(unpack_win_api INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_include_directories(unpack_win_api INTERFACE "${CMAKE_SOURCE_DIR}")

add_library(unpack_launcher_flags INTERFACE)
target_compile_options(unpack_launcher_flags INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics -nostdinc++>
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Werror -Oz -ffunction-sections -fdata-sections
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-ident -malign-data=abi -fno-inline-functions-called-once>)

# Adds a static library of launcher code with the launcher's settings.
function(unpack_launcher_library name)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PUBLIC unpack_win_api PRIVATE unpack_launcher_flags)
endfunction()
