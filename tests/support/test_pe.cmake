# Test-only builders of images and packages in memory: a minimal PE image
# writer and a byte source and sink over memory. Never linked into packfile or
# the launcher.
add_library(unpack_test_pe STATIC
  "${CMAKE_CURRENT_LIST_DIR}/memory_bytes.cpp"
  "${CMAKE_CURRENT_LIST_DIR}/pe_writer.cpp")
target_link_libraries(unpack_test_pe PUBLIC unpack_format)
unpack_portable_settings(unpack_test_pe)
