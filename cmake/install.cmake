# cmake --install: the programs in bin/, and on Linux their manual pages, bash completion,
# README and licence; cpack -G DEB makes the Debian package of the same tree.
include(GNUInstallDirs)
foreach(program floppyset mkfloppyset)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
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
if(WIN32)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  # Debian's layout: the licence as the machine-readable copyright file, the changelog and
  # the manual pages compressed with gzip -9n (no name or time stamp: reproducible).
  set(packed ${PROJECT_BINARY_DIR}/packed)
  set(packed_files)
  foreach(source docs/man/floppyset.1 docs/man/mkfloppyset.1 packaging/debian/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(
      OUTPUT ${packed}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packed}
      COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${packed}/${name}.gz
      DEPENDS ${PROJECT_SOURCE_DIR}/${source}
      VERBATIM)
    list(APPEND packed_files ${packed}/${name}.gz)
  endforeach()
  add_custom_target(packed_docs ALL DEPENDS ${packed_files})
  install(FILES README.md packaging/debian/copyright ${packed}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${packed}/floppyset.1.gz ${packed}/mkfloppyset.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/floppyset.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME floppyset)
  install(FILES completion/floppyset.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME mkfloppyset)
endif()

set(CPACK_PACKAGE_NAME floppyset)
set(CPACK_PACKAGE_VENDOR "floppyset")
set(FLOPPYSET_MAINTAINER
    "Seed 2fc02758 maintainers <maintainers@users.noreply.c-seed-2fc02758.example>"
    CACHE STRING "The Maintainer of the Debian package: name <address>")
set(CPACK_PACKAGE_CONTACT "${FLOPPYSET_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "floppy-set setup programs on Linux: list, check, unpack, write")
# The extended description, one string: a CMake list would put its ';' into the control
# file. CPack puts the summary before it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Old Windows products came as one setup program that writes a set of 1.44 MB
floppy disks from the disk images appended to it. floppyset reads such a
program without Windows: it lists the files on every disk, verifies the
package, unpacks the disks into directories, writes them to floppy drives or
image files, and reports in JSON for scripts. mkfloppyset builds such setup
programs from disk images or directories.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Directories 0755 and files 0644 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The versions dpkg-shlibdeps (dpkg-dev) finds; without it the libraries the programs link.
find_program(FLOPPYSET_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(FLOPPYSET_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, mtools")
include(CPack)
