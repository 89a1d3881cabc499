# Run by cpack between staging and packing. The staged folders were made under the packer's
# umask; under 027 they would reach every machine as rwxr-x---, and students could not read
# the licence. dpkg and lintian expect rwxr-xr-x.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
      WORLD_EXECUTE)
  endif()
endforeach()
