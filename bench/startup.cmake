# The application's start: process start to the main window shown, and resident memory once two
# simulated cameras are brought up over the driver host's socket.
if(TARGET HalvetorBody_ToolBox)
  hvb_bench(bench_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp
    DEPS hvb_foundation hvb_standin_webservice)
  target_compile_definitions(bench_startup PRIVATE HVB_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
  add_dependencies(bench_startup HalvetorBody_ToolBox com_brevantis_driver_HVBSCSIDriver)
endif()
