# Camera link: device state, hot-plug, bring-up, camera volumes, setting writers and clock,
# end to end with simulated cameras behind the driver in this process.
hvb_test(test_camera_link LABELS camera-link
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_camera_bringup.cpp ${CMAKE_CURRENT_LIST_DIR}/test_camera_hotplug.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_setting_writers.cpp ${CMAKE_CURRENT_LIST_DIR}/test_device_records.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_camera_volumes.cpp ${CMAKE_CURRENT_LIST_DIR}/test_plugin_read.cpp
  DEPS hvb_camera hvb_scsidriver hvb_standin_camera hvb_diskarb)

# The "Device" event on the wire to the analytics stand-in.
if(TARGET hvb_online AND TARGET hvb_standin_webservice)
  hvb_test(test_camera_analytics LABELS camera-link
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_camera_analytics.cpp
    DEPS hvb_camera hvb_scsidriver hvb_standin_camera hvb_diskarb hvb_online hvb_standin_webservice)
endif()
