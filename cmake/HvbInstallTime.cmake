# Included by the install script (cmake --install); see hvb_install_configured in HvbInstall.cmake.

# Configures `template` with the prefix of this installation and writes it into place, listed in
# install_manifest.txt the way CMake lists its own files: the installed path, without $DESTDIR.
# `bindir` and `resources` are below the prefix unless absolute.
function(hvb_configure_and_install template destination name desktop_id bindir resources)
  set(prefix "${CMAKE_INSTALL_PREFIX}")
  if("$ENV{DESTDIR}" STREQUAL "")
    # The program names its files by its resolved path (/proc/self/exe), and pkexec matches the
    # script it runs against the policy's path as given: the same name, without links.
    file(REAL_PATH "${prefix}" prefix)
  endif()
  set(HVB_INSTALL_PREFIX "${prefix}")
  set(HVB_DESKTOP_ID "${desktop_id}")
  foreach(var bindir resources)
    if(NOT IS_ABSOLUTE "${${var}}")
      set(${var} "${prefix}/${${var}}")
    endif()
  endforeach()

  string(REPLACE "&" "&amp;" xml "${resources}")
  string(REPLACE "<" "&lt;" xml "${xml}")
  string(REPLACE ">" "&gt;" HVB_INSTALL_RESOURCES_XML "${xml}")

  # An Exec value: "%" doubled; a path with a reserved character in double quotes, with
  # backslash before " ` $ and \; then every backslash doubled, as the value is a string too.
  string(REPLACE "%" "%%" exec "${bindir}/HalvetorBody_ToolBox")
  if(exec MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    string(REPLACE "\\" "\\\\" exec "\"${exec}\"")
  endif()
  set(HVB_DESKTOP_EXEC "${exec}")

  # The destination as given, not resolved: the prefix of the files CMake lists.
  if(NOT IS_ABSOLUTE "${destination}")
    set(destination "${CMAKE_INSTALL_PREFIX}/${destination}")
  endif()
  set(installed "${destination}/${name}")
  message(STATUS "Installing: $ENV{DESTDIR}${installed}")
  configure_file("${template}" "$ENV{DESTDIR}${installed}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${installed}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
