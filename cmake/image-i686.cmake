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
