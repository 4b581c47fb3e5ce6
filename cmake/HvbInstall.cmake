# Where `cmake --install` puts the program, below the prefix. The program finds its parts from its
# own folder (platform/foundation/Paths.h): resources in ../share/HalvetorBody_ToolBox/Resources,
# helper programs in ../libexec. The build folder has the same layout.
set(HVB_INSTALL_SHARE_DIR share/HalvetorBody_ToolBox)
set(HVB_INSTALL_RESOURCES_DIR ${HVB_INSTALL_SHARE_DIR}/Resources)
set(HVB_INSTALL_LIBEXEC_DIR libexec)
# The name the desktop knows the application by: its desktop entry and icon, and the prefix of its
# polkit action.
set(HVB_DESKTOP_ID com.brevantis.HalvetorBodyToolBox)

# hvb_install_configured(<template> <destination> <name>)
# Installs <template> as <destination>/<name>, configured when it is installed, since the prefix
# may be given only then (cmake --install --prefix). The template sees @HVB_INSTALL_PREFIX@ (as
# the installed program sees it, links resolved), @HVB_INSTALL_PREFIX_XML@, @HVB_DESKTOP_EXEC@
# (the installed executable as a desktop entry's Exec value) and @HVB_DESKTOP_ID@.
function(hvb_install_configured template destination name)
  install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/HvbInstallTime.cmake\")
hvb_configure_and_install(\"${template}\" \"${destination}\" \"${name}\" \"${HVB_DESKTOP_ID}\")")
endfunction()
