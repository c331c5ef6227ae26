# Writes the desktop entry for the prefix being installed to and installs it
# into KRVW_DESKTOP_DIR. Runs at install time (from install(CODE)), so that a
# prefix given to `cmake --install --prefix` reaches Exec and Icon.
# In: KRVW_DESKTOP_IN (the template), KRVW_DESKTOP_WORK (a folder of the build
# tree), KRVW_DESKTOP_DIR (absolute), CMAKE_INSTALL_PREFIX, DESTDIR (environment).

set(program "${CMAKE_INSTALL_PREFIX}/bin/krvw")
# Exec: a path with characters the desktop entry reserves is quoted, with ",
# `, $ and \ escaped inside the quotes; then every \ is escaped once more as
# the value is a string, and % is doubled as Exec's field codes use it.
if(program MATCHES "^[A-Za-z0-9/._+-]+$")
    set(KRVW_DESKTOP_EXEC "${program}")
else()
    string(REPLACE "\\" "\\\\" quoted "${program}")
    string(REPLACE "\"" "\\\"" quoted "${quoted}")
    string(REPLACE "`" "\\`" quoted "${quoted}")
    string(REPLACE "$" "\\$" quoted "${quoted}")
    string(REPLACE "\\" "\\\\" quoted "\"${quoted}\"")
    string(REPLACE "%" "%%" KRVW_DESKTOP_EXEC "${quoted}")
endif()
# Icon: an absolute path, as a prefix such as /opt/krvw is outside the icon
# themes' search path.
string(REPLACE "\\" "\\\\" KRVW_DESKTOP_ICON
       "${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/256x256/apps/krvw.png")

configure_file("${KRVW_DESKTOP_IN}" "${KRVW_DESKTOP_WORK}/krvw.desktop" @ONLY)
file(INSTALL DESTINATION "${KRVW_DESKTOP_DIR}" TYPE FILE
     FILES "${KRVW_DESKTOP_WORK}/krvw.desktop")
