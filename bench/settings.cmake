# The Setting pane at real time: from choosing a camera to its tables shown, and from a pop-up
# choice to its result, next to the pauses the write has to make.
if(TARGET hvb_settings)
  hvb_bench(bench_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_settings.cpp
    DEPS hvb_app hvb_settings hvb_scsidriver hvb_standin_camera hvb_diskarb)
  target_compile_definitions(bench_settings PRIVATE HVB_BENCH_BUILD_DIR="${PROJECT_BINARY_DIR}")
  add_dependencies(bench_settings hvb_app_resources)
endif()
