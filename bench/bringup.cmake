# A camera's bring-up at real time, per simulated model: from its plug to its "Device" event,
# next to the pauses the read must make, through the simulation backend and, beside it, through
# the Linux backend on the emulated kernel bus (left out when umockdev is not installed).
hvb_bench(bench_bringup SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_bringup.cpp
  DEPS hvb_camera hvb_scsidriver hvb_standin_camera hvb_diskarb hvb_devices)
if(TARGET hvb_standin_usbbus)
  target_link_libraries(bench_bringup PRIVATE hvb_standin_usbbus)
  target_compile_definitions(bench_bringup PRIVATE HVB_HAVE_EMULATED_USB_BUS=1)
endif()
