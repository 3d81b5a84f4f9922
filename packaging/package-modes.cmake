# CPack pre-build script: give every staged directory mode 0755. Directories
# are created under the packager's umask, and a restrictive one (077) would
# otherwise ship directories such as usr/share/doc/kelvo-gba that only root
# can enter.
file(GLOB_RECURSE entries LIST_DIRECTORIES TRUE "${CPACK_TEMPORARY_DIRECTORY}/*")
set(directories "${CPACK_TEMPORARY_DIRECTORY}")
foreach(entry IN LISTS entries)
    if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
        list(APPEND directories "${entry}")
    endif()
endforeach()
file(CHMOD ${directories} DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
