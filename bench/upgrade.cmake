# The firmware package of the upgrade: MD5 and extraction of a 64 MB package, next to md5sum
# and unzip -P of the same file in the same run.
if(TARGET hvb_tools)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(HVB_BENCH_UPGRADE_LIBZIP REQUIRED IMPORTED_TARGET libzip)
  hvb_bench(bench_upgrade SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_upgrade.cpp
    DEPS hvb_tools hvb_online PkgConfig::HVB_BENCH_UPGRADE_LIBZIP)
endif()
