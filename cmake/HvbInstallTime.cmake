# Included by the install script (cmake --install); see hvb_install_configured in HvbInstall.cmake.

# Configures `template` with the prefix of this installation and writes it into place, listed in
# install_manifest.txt like every installed file.
function(hvb_configure_and_install template destination name desktop_id)
  set(prefix "${CMAKE_INSTALL_PREFIX}")
  if("$ENV{DESTDIR}" STREQUAL "")
    # The program names its files by its resolved path (/proc/self/exe), and pkexec matches the
    # script it runs against the policy's path as given: the same name, without links.
    file(REAL_PATH "${prefix}" prefix)
  endif()
  set(HVB_INSTALL_PREFIX "${prefix}")
  set(HVB_DESKTOP_ID "${desktop_id}")

  string(REPLACE "&" "&amp;" xml "${prefix}")
  string(REPLACE "<" "&lt;" xml "${xml}")
  string(REPLACE ">" "&gt;" HVB_INSTALL_PREFIX_XML "${xml}")

  # An Exec value: "%" doubled; a path with a reserved character in double quotes, with
  # backslash before " ` $ and \; then every backslash doubled, as the value is a string too.
  string(REPLACE "%" "%%" exec "${prefix}/bin/HalvetorBody_ToolBox")
  if(exec MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
    string(REPLACE "\\" "\\\\" exec "${exec}")
    string(REPLACE "\"" "\\\"" exec "${exec}")
    string(REPLACE "`" "\\`" exec "${exec}")
    string(REPLACE "$" "\\$" exec "${exec}")
    string(REPLACE "\\" "\\\\" exec "\"${exec}\"")
  endif()
  set(HVB_DESKTOP_EXEC "${exec}")

  set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${destination}/${name}")
  message(STATUS "Installing: ${target}")
  configure_file("${template}" "${target}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
