# cmake --install: the programs in bin/, and on Linux their manual pages, bash completion,
# README and licence; cpack -G DEB makes the Debian package of the same tree.
include(GNUInstallDirs)
foreach(program floppyset mkfloppyset)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The i686 Win32 program, share/floppyset/floppyset.exe: the stub mkfloppyset puts in front of
# a set by default. Cross-built with MinGW-w64 when installing (and so for the Debian
# package), not by a plain build; without MinGW it is left out and mkfloppyset says so.
find_program(FLOPPYSET_MINGW_I686 i686-w64-mingw32-g++)
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND FLOPPYSET_MINGW_I686)
  include(ExternalProject)
  set(win32_stub_dir ${PROJECT_BINARY_DIR}/win32-stub)
  ExternalProject_Add(floppyset_win32_stub
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${win32_stub_dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64-i686.cmake
               -DCMAKE_BUILD_TYPE=Release -DFLOPPYSET_TESTS=OFF -DFLOPPYSET_BENCH=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${win32_stub_dir} --target floppyset
    INSTALL_COMMAND ""
    EXCLUDE_FROM_ALL TRUE
    BUILD_ALWAYS TRUE)
  install(CODE "execute_process(COMMAND \"${CMAKE_COMMAND}\" --build \"${PROJECT_BINARY_DIR}\"
                                        --target floppyset_win32_stub
                                RESULT_VARIABLE stub_result OUTPUT_QUIET)
                if(NOT stub_result EQUAL 0)
                  message(WARNING \"the Win32 program floppyset.exe could not be built\")
                endif()")
  install(FILES ${win32_stub_dir}/floppyset.exe
          DESTINATION ${CMAKE_INSTALL_DATADIR}/floppyset OPTIONAL)
endif()
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
