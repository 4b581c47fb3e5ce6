# One camera command through the whole user-client path, at real time.
hvb_bench(bench_transport SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_transport.cpp
  DEPS hvb_camera hvb_scsidriver hvb_standin_camera)
