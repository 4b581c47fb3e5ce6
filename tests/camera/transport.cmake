# User-client transport and command payloads against simulated cameras.
hvb_test(test_transport LABELS transport
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_transport.cpp
  DEPS hvb_camera hvb_scsidriver hvb_standin_camera)
hvb_test(test_payloads LABELS payloads
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_payloads.cpp
  DEPS hvb_camera hvb_scsidriver hvb_standin_camera)
