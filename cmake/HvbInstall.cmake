# Where `cmake --install` puts the program, below the prefix: the GNU folders a packager may set
# (CMAKE_INSTALL_BINDIR, CMAKE_INSTALL_DATADIR, CMAKE_INSTALL_LIBEXECDIR). The program finds its
# parts from its own folder through the relative paths fixed here (platform/foundation/Paths.h):
# data in <datadir>/HalvetorBody_ToolBox/Resources; what runs (the helper programs, the driver
# bundle and the two scripts root runs) in <libexecdir>/HalvetorBody_ToolBox, since a distribution
# allows no executable file under the data folder. The build folder keeps its own layout (bin/,
# share/, libexec/).
include(GNUInstallDirs)
set(HVB_INSTALL_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/HalvetorBody_ToolBox)
set(HVB_INSTALL_RESOURCES_DIR ${HVB_INSTALL_SHARE_DIR}/Resources)
set(HVB_INSTALL_LIBEXEC_DIR ${CMAKE_INSTALL_LIBEXECDIR}/HalvetorBody_ToolBox)
# From the executable's folder; relative folders stay right under any prefix, so a moved prefix
# keeps working (an absolute folder holds for the configured prefix only).
file(RELATIVE_PATH HVB_DATADIR_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR})
file(RELATIVE_PATH HVB_LIBEXECDIR_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR})
foreach(var HVB_DATADIR_FROM_BINDIR HVB_LIBEXECDIR_FROM_BINDIR)
  if("${${var}}" STREQUAL "")
    set(${var} .)
  endif()
endforeach()
# The name the desktop knows the application by: its desktop entry, icon and metainfo, and the
# prefix of its polkit action.
set(HVB_DESKTOP_ID com.brevantis.HalvetorBodyToolBox)

# hvb_install_configured(<template> <destination> <name>)
# Installs <template> as <destination>/<name>, configured when it is installed, since the prefix
# may be given only then (cmake --install --prefix). The template sees @HVB_INSTALL_PREFIX@ (as
# the installed program sees it, links resolved), the installed libexec folder escaped for XML
# (@HVB_INSTALL_LIBEXEC_XML@) and for roff (@HVB_INSTALL_LIBEXEC_ROFF@), @HVB_DESKTOP_EXEC@ (the
# installed executable as a desktop entry's Exec value), @HVB_DESKTOP_ID@, @HVB_VERSION@ and
# @HVB_RELEASE_DATE@.
function(hvb_install_configured template destination name)
  install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/HvbInstallTime.cmake\")
hvb_configure_and_install(\"${template}\" \"${destination}\" \"${name}\" \"${HVB_DESKTOP_ID}\"
                          \"${CMAKE_INSTALL_BINDIR}\" \"${HVB_INSTALL_LIBEXEC_DIR}\"
                          \"${PROJECT_VERSION}\" \"${HVB_RELEASE_DATE}\")")
endfunction()

# The uninstall: `cmake -P <build>/uninstall.cmake` removes what install_manifest.txt lists
# (below $DESTDIR when set) and, of the folders install_folders.txt lists, those that leaves empty.
set(HVB_UNINSTALL_MANIFEST ${CMAKE_BINARY_DIR}/install_manifest.txt)
set(HVB_UNINSTALL_FOLDERS ${CMAKE_BINARY_DIR}/install_folders.txt)
configure_file(${CMAKE_CURRENT_LIST_DIR}/HvbUninstall.cmake.in ${CMAKE_BINARY_DIR}/uninstall.cmake @ONLY)

# The folders the install puts files into (below the prefix unless absolute). Before the first
# file is installed, the install notes which of them, and of the folders above and below them,
# are there already; after the last one, hvb_record_installed_folders() writes the folders it made
# into install_folders.txt. A folder not looked at here is never removed by the uninstall.
set(HVB_INSTALL_FOLDERS ${CMAKE_INSTALL_BINDIR} ${HVB_INSTALL_SHARE_DIR} ${HVB_INSTALL_LIBEXEC_DIR}
    ${CMAKE_INSTALL_DATADIR}/applications ${CMAKE_INSTALL_DATADIR}/metainfo
    ${CMAKE_INSTALL_DATADIR}/icons/hicolor ${CMAKE_INSTALL_DATADIR}/polkit-1/actions ${CMAKE_INSTALL_MANDIR}/man1)
install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/HvbInstallTime.cmake\")
hvb_note_folders_before(\"${HVB_INSTALL_FOLDERS}\")")
# Called once every install rule is given.
function(hvb_record_installed_folders)
  install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/HvbInstallTime.cmake\")
hvb_record_made_folders(\"${HVB_UNINSTALL_FOLDERS}\")")
endfunction()
