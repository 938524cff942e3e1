# What `cmake --install` puts below its prefix, and the Debian package that
# `cpack -G DEB` makes of the same (in the native build only):
#
#   bin/quillon-pack
#   lib/quillon/linux-x86_64/quillon-sfx    this build's POSIX stub
#   lib/quillon/linux-aarch64/quillon-sfx   from build/aarch64, when built
#   lib/quillon/windows/quillon-sfx.exe     from build/win32, when built
#   share/man/man1/quillon-pack.1, quillon-sfx.1
#
# quillon-pack finds the stubs there from its own folder
# (packer/stub_search.h). The stubs of the other presets are taken from
# their build folders beside this one when they exist at install time;
# QUILLON_WINDOWS_STUB and QUILLON_AARCH64_STUB name others.
set(QUILLON_WINDOWS_STUB ${CMAKE_BINARY_DIR}/../win32/bin/quillon-sfx.exe
  CACHE FILEPATH "The Windows stub to install beside the POSIX one (skipped when missing)")
set(QUILLON_AARCH64_STUB ${CMAKE_BINARY_DIR}/../aarch64/bin/quillon-sfx
  CACHE FILEPATH "The Linux aarch64 stub to install beside the POSIX one (skipped when missing)")
# Looked for when installing, not when configuring: the other builds may
# come later.
foreach(stub windows:quillon-sfx.exe:${QUILLON_WINDOWS_STUB} linux-aarch64:quillon-sfx:${QUILLON_AARCH64_STUB})
  string(REGEX MATCH "^([^:]*):([^:]*):(.*)$" parts ${stub})
  set(target ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  set(file ${CMAKE_MATCH_3})
  install(CODE "
    if(EXISTS \"${file}\")
      file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/quillon/${target}\" TYPE PROGRAM FILES \"${file}\" RENAME ${name})
    else()
      message(STATUS \"Not installed (not built): ${file}\")
    endif()")
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/docs/man/quillon-pack.1 ${CMAKE_SOURCE_DIR}/docs/man/quillon-sfx.1
  DESTINATION share/man/man1)

# `cpack` and `make install` package and install what is built; they do not
# build it first (build, then install), so that packaging in a test never
# rebuilds programs that other tests are running.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "Quillon")
set(CPACK_PACKAGE_CONTACT "Quillon developers <quillon@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "self-extracting Zip archives for Linux and Windows")
set(CPACK_PACKAGE_DESCRIPTION "quillon-pack turns files, folders or a .zip into a self-extracting
program: a stub (for Linux on x86-64 or aarch64, or for Windows) followed by
the Zip archive, which unzip, 7z and bsdtar read too.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY quillon)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The packer's libraries, found by dpkg-shlibdeps; the stubs are static.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
