# One status call (selector 5) over the driver host's socket and over the embedded link, and a
# bare Unix-socket round trip of the same message sizes.
hvb_bench(bench_link SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_link.cpp
  DEPS hvb_iokit hvb_scsidriver hvb_standin_camera hvb_diskarb)
