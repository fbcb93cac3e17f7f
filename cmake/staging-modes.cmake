# Run by CPack between staging the files and packing them (CPACK_PRE_BUILD_SCRIPTS): the
# folders CPack makes for the staging take their modes from the umask, and the .deb keeps
# them (with umask 077 its /usr came out 700). Every staged folder is 755.
file(GLOB_RECURSE staged LIST_DIRECTORIES true ${CPACK_TEMPORARY_DIRECTORY}/*)
foreach(path IN LISTS staged ITEMS ${CPACK_TEMPORARY_DIRECTORY})
  if(IS_DIRECTORY ${path} AND NOT IS_SYMLINK ${path})
    file(CHMOD ${path} PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
