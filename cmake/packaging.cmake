# Installation and packages. Linux: the program and its manual page
# (cmake --install, make install with PREFIX, or the Debian package).
# Windows: the program, a plain-text copy of the manual and the licence in a
# zip.
configure_file(${PROJECT_SOURCE_DIR}/doc/vnarchive.1.in ${PROJECT_BINARY_DIR}/vnarchive.1 @ONLY)

set(CPACK_PACKAGE_NAME vnarchive)
set(CPACK_PACKAGE_VENDOR "VNArchive developers")
set(CPACK_PACKAGE_CONTACT "VNArchive developers <vnarchive@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packs a directory tree into one archive file and unpacks it")
set(CPACK_PACKAGE_DESCRIPTION "VNArchive packs a file or a whole directory tree into one\n\
archive file (a 12-byte header, then one zlib stream of entry records)\n\
and unpacks such an archive into a target directory, never writing\n\
outside it.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  find_program(VNA_GROFF groff REQUIRED)
  # The manual as plain text with CRLF line ends, for Notepad and friends.
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/vnarchive.txt
    COMMAND ${VNA_GROFF} -man -Tascii -P-c -P-b -P-o -P-u ${PROJECT_BINARY_DIR}/vnarchive.1
            | sed "s/$/\\r/" > ${PROJECT_BINARY_DIR}/vnarchive.txt
    DEPENDS ${PROJECT_BINARY_DIR}/vnarchive.1 VERBATIM)
  # The licence travels with the program, CRLF as well.
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/LICENSE.txt
    COMMAND sed "s/$/\\r/" ${PROJECT_SOURCE_DIR}/LICENSE > ${PROJECT_BINARY_DIR}/LICENSE.txt
    DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE VERBATIM)
  add_custom_target(manual_text ALL DEPENDS ${PROJECT_BINARY_DIR}/vnarchive.txt
                                            ${PROJECT_BINARY_DIR}/LICENSE.txt)
  install(TARGETS vnarchive RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/vnarchive.txt ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vnarchive-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  # Installed as Debian lays a package out: the manual page and the
  # changelog compressed without a time stamp (gzip -n), the copyright file
  # beside the changelog. The package is native (this project packages
  # itself), so its changelog is changelog.gz.
  set(deb ${PROJECT_BINARY_DIR}/deb)
  add_custom_command(OUTPUT ${deb}/vnarchive.1.gz ${deb}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${deb}
    COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/vnarchive.1 > ${deb}/vnarchive.1.gz
    COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/doc/debian/changelog > ${deb}/changelog.gz
    DEPENDS ${PROJECT_BINARY_DIR}/vnarchive.1 ${PROJECT_SOURCE_DIR}/doc/debian/changelog VERBATIM)
  add_custom_target(installed_docs ALL DEPENDS ${deb}/vnarchive.1.gz ${deb}/changelog.gz)
  install(TARGETS vnarchive RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${deb}/vnarchive.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${deb}/changelog.gz ${PROJECT_SOURCE_DIR}/doc/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vnarchive)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps reads the libraries the program links (libc, libstdc++,
  # zlib, and ISA-L where the build reads with it) and writes Depends.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
