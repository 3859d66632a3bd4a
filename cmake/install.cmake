# cmake --install: the programs in bin/, and on Linux their manual pages, bash completion,
# README and licence; cpack -G DEB makes the Debian package of the same tree.
include(GNUInstallDirs)
foreach(program floppyset mkfloppyset)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(NOT WIN32)
  install(FILES docs/man/floppyset.1 docs/man/mkfloppyset.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/floppyset.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME floppyset)
  install(FILES completion/floppyset.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME mkfloppyset)
endif()

set(CPACK_PACKAGE_NAME floppyset)
set(CPACK_PACKAGE_VENDOR "floppyset")
set(CPACK_PACKAGE_CONTACT "floppyset maintainers <floppyset@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "list, verify, unpack and write floppy-set setup programs without Windows")
set(CPACK_PACKAGE_DESCRIPTION
    "floppyset reads the setup package appended to a floppy-set setup program (.exe) and\n"
    "lists, verifies, unpacks or writes its disks; mkfloppyset builds such programs.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The versions dpkg-shlibdeps (dpkg-dev) finds; without it the libraries the programs link.
find_program(FLOPPYSET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(FLOPPYSET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, mtools")
include(CPack)
