# Removes what `cmake --install` put under its prefix, as listed in the build
# folder's install_manifest.txt, and then the folders it made that are left
# empty (the ini/ folder too, when the program wrote nothing there).
#   DESTDIR=... cmake -DMANIFEST=<build>/install_manifest.txt -P cmake/Uninstall.cmake
# The configuration the program wrote (ini/krvw.ini) is not in the manifest and
# stays, with its folder.

if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
    message(FATAL_ERROR "No install manifest at '${MANIFEST}': nothing was installed from this "
                        "build folder (run make install first).")
endif()
# Read as bytes: file(STRINGS) would drop the lines of paths with non-ASCII letters.
file(READ "${MANIFEST}" installed)
string(REGEX REPLACE "\n+$" "" installed "${installed}")
string(REPLACE "\n" ";" installed "${installed}")
if(NOT installed)
    message(STATUS "The install manifest is empty: nothing to remove.")
    return()
endif()

# Whether `path` lies below the folder `root` (compared as text, not as a
# pattern: a prefix may hold characters that a regular expression reserves).
function(below path root result)
    string(LENGTH "${root}/" n)
    string(SUBSTRING "${path}/" 0 ${n} start)
    if(start STREQUAL "${root}/" AND NOT path STREQUAL root)
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

# The prefix: the deepest folder that holds every installed file.
list(GET installed 0 root)
get_filename_component(root "${root}" DIRECTORY)
foreach(path IN LISTS installed)
    below("${path}" "${root}" inside)
    while(NOT inside AND NOT root STREQUAL "/")
        get_filename_component(root "${root}" DIRECTORY)
        below("${path}" "${root}" inside)
    endwhile()
endforeach()

set(folders "${root}/bin/ini")
foreach(path IN LISTS installed)
    set(target "$ENV{DESTDIR}${path}")
    if(EXISTS "${target}" OR IS_SYMLINK "${target}")
        message(STATUS "Removing: ${target}")
        file(REMOVE "${target}")
    endif()
    get_filename_component(folder "${path}" DIRECTORY)
    below("${folder}" "${root}" inside)
    while(inside)
        list(APPEND folders "${folder}")
        get_filename_component(folder "${folder}" DIRECTORY)
        below("${folder}" "${root}" inside)
    endwhile()
endforeach()
list(APPEND folders "${root}")

# Deepest first, so that a parent is tried once its children are gone; rmdir
# removes only empty folders.
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
    if(IS_DIRECTORY "$ENV{DESTDIR}${folder}")
        execute_process(COMMAND rmdir "$ENV{DESTDIR}${folder}" RESULT_VARIABLE kept
                        OUTPUT_QUIET ERROR_QUIET)
        if(kept EQUAL 0)
            message(STATUS "Removing: $ENV{DESTDIR}${folder}/")
        endif()
    endif()
endforeach()
