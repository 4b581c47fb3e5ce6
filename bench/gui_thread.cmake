# The GUI thread's longest block, at real time over the driver host's socket, while a camera is
# plugged, while the Status panel ticks, during a setting write and during a firmware upgrade.
if(TARGET hvb_tools AND TARGET hvb_standin_webservice)
  hvb_bench(bench_gui_thread SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gui_thread.cpp
    DEPS hvb_app hvb_tools hvb_iokit hvb_scsidriver hvb_standin_camera hvb_standin_webservice hvb_diskarb)
  target_compile_definitions(bench_gui_thread PRIVATE HVB_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
  add_dependencies(bench_gui_thread hvb_app_resources)
endif()
