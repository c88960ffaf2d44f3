# Image properties of the shipped 32-bit launcher: fixed base without
# relocations, no ASLR or DEP opt-in, terminal-server aware, OS and subsystem
# 5.0, 1 MiB stack and heap reserve with 4 KiB commit.
target_link_options(UnPackFile PRIVATE
  -Wl,--image-base,0x400000
  -Wl,--disable-dynamicbase -Wl,--disable-nxcompat
  -Wl,--disable-reloc-section
  -Wl,--tsaware
  -Wl,--major-os-version,5 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,0
  "SHELL:-Xlinker --stack -Xlinker 0x100000,0x1000"
  "SHELL:-Xlinker --heap -Xlinker 0x100000,0x1000")

# Size: the shipped image must stay within 48 KiB. Whole-program optimisation
# drops and folds what a single file cannot see, and the 32-bit Windows ABI
# needs only 4-byte stack alignment, which spares the realignment code.
# Arguments are pushed rather than stored into a reserved area, which needs
# the compiler's stack probes off (they require the reserved area): no frame
# may then be larger than the 4000 bytes below which the compiler never
# probes on this system anyway, so that the stack grows page by page through
# its guard page. A larger frame fails the build; its buffer belongs on the
# heap.
set(UNPACK_I686_CODE_OPTIONS -mpreferred-stack-boundary=2 -mno-accumulate-outgoing-args -mno-stack-arg-probe
    -Wframe-larger-than=4000)
set_property(TARGET UnPackFile unpack_launcher unpack_extractor unpack_diagnostics unpack_hardening unpack_framework
             PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
foreach(target UnPackFile unpack_launcher unpack_extractor unpack_diagnostics unpack_hardening unpack_framework)
  target_compile_options(${target} PRIVATE ${UNPACK_I686_CODE_OPTIONS})
endforeach()
target_link_options(UnPackFile PRIVATE ${UNPACK_I686_CODE_OPTIONS} -Oz)
# Fewer, fuller sections: see the script for what it changes and why.
target_link_options(UnPackFile PRIVATE "-Wl,-T,${CMAKE_SOURCE_DIR}/cmake/launcher-i686.ld")
set_property(TARGET UnPackFile APPEND PROPERTY LINK_DEPENDS "${CMAKE_SOURCE_DIR}/cmake/launcher-i686.ld")
# Whole-program optimisation compiles again at the link, where some warnings
# first show: they fail the build there too.
target_link_options(UnPackFile PRIVATE -Wall -Wextra -Werror)

# The limit is enforced, not only printed: a larger image fails the build.
add_custom_command(TARGET UnPackFile POST_BUILD
  COMMAND "${CMAKE_COMMAND}" -DIMAGE=$<TARGET_FILE:UnPackFile> -DLIMIT=49152
          -P "${CMAKE_SOURCE_DIR}/cmake/check-image-size.cmake"
  VERBATIM)
