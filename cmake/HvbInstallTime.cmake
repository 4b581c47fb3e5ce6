# Included by the install script (cmake --install); see hvb_install_configured in HvbInstall.cmake.
# The install script runs under CMake's oldest policies; the functions here keep these.
cmake_policy(VERSION 3.22)

# Configures `template` with the prefix of this installation and writes it into place, listed in
# install_manifest.txt the way CMake lists its own files: the installed path, without $DESTDIR.
# `bindir` and `libexec` are below the prefix unless absolute.
function(hvb_configure_and_install template destination name desktop_id bindir libexec version release_date)
  set(prefix "${CMAKE_INSTALL_PREFIX}")
  if("$ENV{DESTDIR}" STREQUAL "")
    # The program names its files by its resolved path (/proc/self/exe), and pkexec matches the
    # script it runs against the policy's path as given: the same name, without links.
    file(REAL_PATH "${prefix}" prefix)
  endif()
  set(HVB_INSTALL_PREFIX "${prefix}")
  set(HVB_DESKTOP_ID "${desktop_id}")
  set(HVB_VERSION "${version}")
  set(HVB_RELEASE_DATE "${release_date}")
  foreach(var bindir libexec)
    if(NOT IS_ABSOLUTE "${${var}}")
      set(${var} "${prefix}/${${var}}")
    endif()
  endforeach()

  string(REPLACE "&" "&amp;" xml "${libexec}")
  string(REPLACE "<" "&lt;" xml "${xml}")
  string(REPLACE ">" "&gt;" HVB_INSTALL_LIBEXEC_XML "${xml}")
  # In running text: a backslash printed as such, a hyphen as the one a shell takes.
  string(REPLACE "\\" "\\e" roff "${libexec}")
  string(REPLACE "-" "\\-" HVB_INSTALL_LIBEXEC_ROFF "${roff}")

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

# `dir` as an installed path (without $DESTDIR): below the prefix unless absolute, without doubled
# or trailing slashes.
function(hvb_installed_path dir out)
  if(NOT IS_ABSOLUTE "${dir}")
    set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  string(REGEX REPLACE "/+" "/" dir "${dir}")
  string(REGEX REPLACE "(.)/$" "\\1" dir "${dir}")
  set(${out} "${dir}" PARENT_SCOPE)
endfunction()

# Run before the first file is installed: which of `folders` (the folders the install puts files
# into), of the folders above them and of the folders below them are there already, links and
# other files at their names included. Kept for hvb_record_made_folders in HVB_FOLDERS_CHECKED
# and HVB_FOLDERS_BEFORE.
function(hvb_note_folders_before folders)
  set(checked "")
  set(before "")
  foreach(folder IN LISTS folders)
    hvb_installed_path("${folder}" folder)
    list(APPEND checked "${folder}")
    set(up "${folder}")
    while(NOT up STREQUAL "/" AND NOT up STREQUAL "")
      if(EXISTS "$ENV{DESTDIR}${up}" OR IS_SYMLINK "$ENV{DESTDIR}${up}")
        list(APPEND before "${up}")
      endif()
      get_filename_component(up "${up}" DIRECTORY)
    endwhile()
    set(top "$ENV{DESTDIR}${folder}")
    if(IS_DIRECTORY "${top}" AND NOT IS_SYMLINK "${top}")
      # Links below are listed, not followed.
      file(GLOB_RECURSE below LIST_DIRECTORIES true RELATIVE "${top}" "${top}/*")
      foreach(entry IN LISTS below)
        if(IS_DIRECTORY "${top}/${entry}" OR IS_SYMLINK "${top}/${entry}")
          list(APPEND before "${folder}/${entry}")
        endif()
      endforeach()
    endif()
  endforeach()
  set(HVB_FOLDERS_CHECKED "${checked}" PARENT_SCOPE)
  set(HVB_FOLDERS_BEFORE "${before}" PARENT_SCOPE)
endfunction()

# Run after the last file is installed: writes `record`, the folders this install made for the
# files it lists (and those an earlier install of this build into the same place made), the only
# folders the uninstall removes. A folder on the way to a file that was not looked at before is
# taken as not made here, so it stays.
function(hvb_record_made_folders record)
  set(destdir "$ENV{DESTDIR}")
  hvb_installed_path("${CMAKE_INSTALL_PREFIX}" prefix)
  set(files "")
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    string(REGEX REPLACE "/+" "/" file "${file}")
    list(APPEND files "${file}")
  endforeach()
  set(made "")
  foreach(file IN LISTS files)
    get_filename_component(folder "${file}" DIRECTORY)
    while(NOT folder STREQUAL "/" AND NOT folder STREQUAL "" AND NOT folder IN_LIST made)
      if(folder IN_LIST HVB_FOLDERS_BEFORE)
        break()
      endif()
      set(looked FALSE)
      foreach(top IN LISTS HVB_FOLDERS_CHECKED)
        string(FIND "${top}/" "${folder}/" above)
        string(FIND "${folder}/" "${top}/" below)
        if(above EQUAL 0 OR below EQUAL 0)
          set(looked TRUE)
        endif()
      endforeach()
      if(looked)
        list(APPEND made "${folder}")
      endif()
      get_filename_component(folder "${folder}" DIRECTORY)
    endwhile()
  endforeach()
  # An earlier install into the same place made the folders this one found there.
  if(EXISTS "${record}")
    file(STRINGS "${record}" lines)
    if("destdir=${destdir}" IN_LIST lines AND "prefix=${prefix}" IN_LIST lines)
      foreach(line IN LISTS lines)
        if(line MATCHES "^/" AND NOT line IN_LIST made)
          set(folder "${destdir}${line}")
          if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
            # Only when it still holds what this install put there.
            foreach(file IN LISTS files)
              string(FIND "${file}" "${line}/" at)
              if(at EQUAL 0)
                list(APPEND made "${line}")
                break()
              endif()
            endforeach()
          endif()
        endif()
      endforeach()
    endif()
  endif()
  list(SORT made)
  list(JOIN made "\n" text)
  file(WRITE "${record}" "destdir=${destdir}\nprefix=${prefix}\n${text}\n")
endfunction()
