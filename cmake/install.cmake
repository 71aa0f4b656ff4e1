# Installation and Debian packaging of rokconv.
#
# Installs the program and its manual page, nothing else:
#   bin/rokconv
#   share/man/man1/rokconv.1.gz   (plain rokconv.1 when gzip is not found)
#
#   cmake --install BUILD_DIR --prefix /usr/local
#   cd BUILD_DIR && cpack -G DEB     # gives rokconv_<version>_<arch>.deb

include(GNUInstallDirs)

set(ROKCONV_MANPAGE ${CMAKE_CURRENT_LIST_DIR}/../rokconv.1)
get_filename_component(ROKCONV_MANPAGE ${ROKCONV_MANPAGE} ABSOLUTE)

# Directories that the install creates are rwxr-xr-x (never group- or world-writable, even
# under a loose umask such as 002); a stricter umask still narrows them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS rokconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian wants manual pages compressed with gzip -9n (no name, no time stamp, so the file is
# the same from build to build). The compressed page is made at build time, so
# `cmake --install` needs no tool beyond cmake itself.
find_program(ROKCONV_GZIP gzip)
if(ROKCONV_GZIP)
  set(ROKCONV_MANPAGE_DIR ${CMAKE_CURRENT_BINARY_DIR}/man)
  set(ROKCONV_MANPAGE_GZ ${ROKCONV_MANPAGE_DIR}/rokconv.1.gz)
  add_custom_command(
    OUTPUT ${ROKCONV_MANPAGE_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ROKCONV_MANPAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${ROKCONV_MANPAGE} ${ROKCONV_MANPAGE_DIR}/rokconv.1
    COMMAND ${ROKCONV_GZIP} -9nf ${ROKCONV_MANPAGE_DIR}/rokconv.1
    DEPENDS ${ROKCONV_MANPAGE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(rokconv_manpage ALL DEPENDS ${ROKCONV_MANPAGE_GZ})
  install(FILES ${ROKCONV_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  install(FILES ${ROKCONV_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Debian package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rokconv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "rokconv developers")
set(CPACK_PACKAGE_CONTACT "rokconv developers <rokconv@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter from ROK 3D models to LightWave objects")
set(CPACK_PACKAGE_DESCRIPTION
    "rokconv reads a 3D model saved in the line-oriented ROK text format and\n\
writes it as a LightWave object file (an IFF FORM of type LWOB) into the\n\
current directory. Points, faces, free-standing lines and the palette\n\
colours that they use are carried over; every used colour becomes one named\n\
surface. Damaged or truncated files are converted as far as they go.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "rokconv developers <rokconv@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
