# A camera's bring-up at real time, per simulated model: from its plug to its "Device" event,
# next to the pauses the read must make.
hvb_bench(bench_bringup SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_bringup.cpp
  DEPS hvb_camera hvb_scsidriver hvb_standin_camera hvb_diskarb)
