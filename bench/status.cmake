# The Status panel with two cameras over the driver host's socket: the longest stall of the GUI
# thread during ten seconds of row ticks, and the time from "statusDidGet" to the rows shown.
if(TARGET hvb_app)
  hvb_bench(bench_status SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_status.cpp
    DEPS hvb_app hvb_iokit hvb_scsidriver hvb_standin_camera hvb_diskarb)
  target_compile_definitions(bench_status PRIVATE HVB_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
  add_dependencies(bench_status hvb_app_resources)
endif()
