# hvb_library(<target> [DEPS <targets/libs>...] [PRIVATE_DEPS ...])
# A static library made of every .cpp in the calling folder (recursively).
# Headers are included as "<top-level folder path>/<file>.h" from the source root.
function(hvb_library target)
  cmake_parse_arguments(A "" "" "DEPS;PRIVATE_DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  # The patterns see paths from the calling folder ("/host/x.cpp"), so the checkout's own
  # location never matches one.
  set(kept)
  foreach(src IN LISTS srcs)
    file(RELATIVE_PATH rel ${CMAKE_CURRENT_SOURCE_DIR} ${src})
    set(keep TRUE)
    foreach(ex IN LISTS A_EXCLUDE)
      if("/${rel}" MATCHES "${ex}")
        set(keep FALSE)
      endif()
    endforeach()
    if(keep)
      list(APPEND kept ${src})
    endif()
  endforeach()
  set(srcs ${kept})
  add_library(${target} STATIC ${srcs})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${A_DEPS} Threads::Threads PRIVATE ${A_PRIVATE_DEPS})
endfunction()

# hvb_test(<target> LABELS <labels>... SOURCES <files>... DEPS <targets>...)
# A GoogleTest executable; each test case becomes a CTest test carrying the labels.
function(hvb_test target)
  cmake_parse_arguments(A "" "TIMEOUT" "LABELS;SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${A_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${A_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Where tests find sources and build outputs (a test list's ENVIRONMENT holds one entry only).
  target_compile_definitions(${target} PRIVATE HVB_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               HVB_TEST_BUILD_DIR="${PROJECT_BINARY_DIR}")
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      LABELS "${A_LABELS}"
      TIMEOUT ${A_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# hvb_bench(<target> SOURCES <files>... DEPS <targets>...): a Google Benchmark executable.
function(hvb_bench target)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${target} ${A_SOURCES})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${A_DEPS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
