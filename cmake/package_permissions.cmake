# Run by CPack on its staging tree, just before it packs it. Folders made
# during the install inherit the umask of whoever runs cpack, and CMake's
# default folder permissions are still masked by it: under a umask of 027
# the package would create /usr/share/doc/comloop and the icon folders
# readable by root alone. Every folder is made 0755, as Debian requires.
file(GLOB_RECURSE folders LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(folder IN LISTS folders)
    if(IS_DIRECTORY "${folder}" AND NOT IS_SYMLINK "${folder}")
        file(CHMOD "${folder}" DIRECTORY_PERMISSIONS
             OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endforeach()
