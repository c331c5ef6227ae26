# The install tree under a prefix (default /opt/krvw) and its Debian package.
#
# Everything the program needs lies under the prefix: bin/krvw with the ini/
# folder it writes its configuration into (it looks for ini/krvw.ini beside
# its executable), the tools, the icon in the hicolor layout, the desktop entry
# and the user guide. The package adds what Debian looks for outside /opt: the
# desktop entry in /usr/share/applications (menus do not look in /opt), the
# copyright, the changelog and the lintian overrides. Those go in the install
# component "debian", which `cmake --install` leaves out.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX /opt/krvw CACHE PATH "Where the install tree goes" FORCE)
endif()
set(KRVW_PACKAGE_PREFIX /opt/krvw) # the Debian package's tree
set(KRVW_PACKAGE_MAINTAINER "Veltra Informática <suporte@veltra.invalid>"
    CACHE STRING "The Debian package's maintainer, as Name <address>")

install(TARGETS krvw krvw-tool krvw-tracer-sim RUNTIME DESTINATION bin)

# The ini/ folder, writable by every user who runs the program: 0777. Not 1777:
# a save replaces ini/krvw.ini by renaming a new file over it, which the sticky
# bit forbids to any user but the one who wrote the file last.
install(CODE [[
    set(ini "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/ini")
    message(STATUS "Installing: ${ini} (mode 0777)")
    file(MAKE_DIRECTORY "${ini}")
    file(CHMOD "${ini}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_WRITE GROUP_EXECUTE WORLD_READ WORLD_WRITE WORLD_EXECUTE)
]])

# The icon: the about dialog's picture, drawn by krvw-grab at each size.
set(KRVW_ICON_SIZES 48 128 256)
set(KRVW_ICON_RUNTIME ${CMAKE_BINARY_DIR}/xdg-runtime-icons)
file(MAKE_DIRECTORY ${KRVW_ICON_RUNTIME})
file(CHMOD ${KRVW_ICON_RUNTIME} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
set(KRVW_INSTALL_DATA)
foreach(size IN LISTS KRVW_ICON_SIZES)
    set(icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/krvw.png)
    # Offscreen, and without leak checks: a sanitizer build runs krvw-grab here too.
    add_custom_command(OUTPUT ${icon}
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                XDG_RUNTIME_DIR=${KRVW_ICON_RUNTIME} ASAN_OPTIONS=detect_leaks=0
                $<TARGET_FILE:krvw-grab> --icon ${size} ${icon}
        DEPENDS krvw-grab
        COMMENT "Drawing the ${size} px icon"
        VERBATIM)
    list(APPEND KRVW_INSTALL_DATA ${icon})
    install(FILES ${icon} DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()

# The desktop entry, written at install time for the prefix installed to.
set(KRVW_DESKTOP_IN ${CMAKE_SOURCE_DIR}/packaging/krvw.desktop.in)
install(CODE "
    set(KRVW_DESKTOP_IN \"${KRVW_DESKTOP_IN}\")
    set(KRVW_DESKTOP_WORK \"${CMAKE_BINARY_DIR}/desktop/tree\")
    set(KRVW_DESKTOP_DIR \"\${CMAKE_INSTALL_PREFIX}/share/applications\")
    include(\"${CMAKE_SOURCE_DIR}/cmake/InstallDesktop.cmake\")
")
install(FILES docs/manual.md DESTINATION share/doc/krvw)
install(DIRECTORY docs/images DESTINATION share/doc/krvw)

# What the Debian package adds outside its tree.
install(CODE "
    set(KRVW_DESKTOP_IN \"${KRVW_DESKTOP_IN}\")
    set(KRVW_DESKTOP_WORK \"${CMAKE_BINARY_DIR}/desktop/debian\")
    set(KRVW_DESKTOP_DIR /usr/share/applications)
    include(\"${CMAKE_SOURCE_DIR}/cmake/InstallDesktop.cmake\")
" COMPONENT debian EXCLUDE_FROM_ALL)
set(KRVW_DEBIAN_DIR ${CMAKE_BINARY_DIR}/debian)
set(KRVW_PACKAGE_INI ${KRVW_PACKAGE_PREFIX}/bin/ini)
string(TIMESTAMP KRVW_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP KRVW_COPYRIGHT_YEAR "%Y" UTC)
foreach(file copyright changelog postinst postrm)
    configure_file(packaging/${file}.in ${KRVW_DEBIAN_DIR}/${file} @ONLY)
endforeach()
file(CHMOD ${KRVW_DEBIAN_DIR}/postinst ${KRVW_DEBIAN_DIR}/postrm PERMISSIONS OWNER_READ
     OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# A native package's changelog, compressed with gzip -9n as Debian wants it.
add_custom_command(OUTPUT ${KRVW_DEBIAN_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy changelog changelog.Debian
    COMMAND gzip -9nf changelog.Debian
    COMMAND ${CMAKE_COMMAND} -E rename changelog.Debian.gz changelog.gz
    DEPENDS ${KRVW_DEBIAN_DIR}/changelog
    WORKING_DIRECTORY ${KRVW_DEBIAN_DIR}
    VERBATIM)
list(APPEND KRVW_INSTALL_DATA ${KRVW_DEBIAN_DIR}/changelog.gz)
add_custom_target(krvw-install-data ALL DEPENDS ${KRVW_INSTALL_DATA})
install(FILES ${KRVW_DEBIAN_DIR}/copyright ${KRVW_DEBIAN_DIR}/changelog.gz
        DESTINATION /usr/share/doc/krvw COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES packaging/lintian-overrides DESTINATION /usr/share/lintian/overrides RENAME krvw
        COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME krvw)
set(CPACK_PACKAGE_VENDOR "Veltra Informática")
set(CPACK_PACKAGE_CONTACT "${KRVW_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${KRVW_PACKAGE_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "tracer reader of an optical laboratory
The lab's spectacle-frame tracer (NIDEK, Huvitz, TopCom, Essilor or
Takubomatic, over a serial line or TCP) sends the outline of each lens
opening; the program derives the box sizes, the largest diagonal and the
distance between lenses, draws both outlines, and writes the reading as an
enciphered file for the lab management system.
.
The program, krvw-tool (support tool for reading files) and krvw-tracer-sim
(a tracer simulator) are installed under ${KRVW_PACKAGE_PREFIX}.")
# The Qt libraries and the C++ runtime come from the binaries themselves where
# dpkg-shlibdeps is at hand; the fonts and the platform plugins are loaded at
# run time, so no library dependency names them.
find_program(KRVW_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(KRVW_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, qt6-qpa-plugins")
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6, libqt6network6, libqt6gui6, libqt6core6, libstdc++6, libc6, "
        "fonts-liberation, qt6-qpa-plugins")
    string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KRVW_DEBIAN_DIR}/postinst ${KRVW_DEBIAN_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# One package of both components.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)
# The package carries ini/ as 0755, as Debian wants its folders; postinst opens it.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebStaging.cmake)
include(CPack)
