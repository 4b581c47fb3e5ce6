# Camera link data core: command tables, table choice by firmware version, settings vocabulary.
hvb_test(test_command_tables LABELS tables
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_command_tables.cpp ${CMAKE_CURRENT_LIST_DIR}/test_settings_vocabulary.cpp
  DEPS hvb_camera)
hvb_test(test_version_choice LABELS versions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_version_choice.cpp
  DEPS hvb_camera)
