# Read by cpack before it packs. Without dpkg-shlibdeps CPack quietly builds a package with no
# Depends at all, which installs anywhere and then fails to start where libgomp1 is missing.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps not found: install dpkg-dev to build the Debian package")
endif()
