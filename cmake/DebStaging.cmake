# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) on the staged tree before it becomes
# the package: ini/ is installed open to every user (mode 0777), while a
# Debian package carries its folders as 0755; the package's postinst opens the
# folder on the target machine. The tree is staged in a folder of its own per
# component group (ALL_COMPONENTS_IN_ONE), or directly.
file(GLOB folders LIST_DIRECTORIES true
     "${CPACK_TEMPORARY_DIRECTORY}/*${CPACK_PACKAGING_INSTALL_PREFIX}/bin/ini"
     "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/ini")
if(NOT folders)
    message(FATAL_ERROR "No ${CPACK_PACKAGING_INSTALL_PREFIX}/bin/ini in the staged tree "
                        "${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(folder IN LISTS folders)
    file(CHMOD "${folder}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
