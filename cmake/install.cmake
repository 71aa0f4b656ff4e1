# Installation and Debian packaging of rokconv.
#
# Installs the program and its manual page (component "program") and the library for other
# programs to build on (component "dev"):
#   bin/rokconv
#   share/man/man1/rokconv.1.gz                 (plain rokconv.1 when gzip is not found)
#   share/bash-completion/completions/rokconv   completion of options, formats and ROK files
#   LIBDIR/librokconv.a
#   include/rokconv/*.hpp
#   LIBDIR/cmake/rokconv/                       find_package(rokconv 2.0 CONFIG): rokconv::rokconv
#   LIBDIR/pkgconfig/rokconv.pc                 pkg-config --cflags --libs rokconv
# LIBDIR is GNUInstallDirs' CMAKE_INSTALL_LIBDIR: on Debian lib/<multiarch triplet> when the
# build is configured with CMAKE_INSTALL_PREFIX=/usr, plain lib for any other prefix; so the
# build that makes the Debian packages is best configured for /usr.
#
#   cmake --install BUILD_DIR --prefix /usr/local
#   cd BUILD_DIR && cpack -G DEB     # gives rokconv_<version>_<arch>.deb (program and manual
#                                    # page) and librokconv-dev_<version>_<arch>.deb (the rest)
# Each Debian package also carries share/doc/<package>/copyright (LICENSE in Debian's
# machine-readable format) and share/doc/<package>/changelog.gz (packaging/changelog); a plain
# `cmake --install` leaves these two out.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ROKCONV_MANPAGE ${CMAKE_CURRENT_LIST_DIR}/../rokconv.1)
get_filename_component(ROKCONV_MANPAGE ${ROKCONV_MANPAGE} ABSOLUTE)
set(ROKCONV_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/rokconv)

# Directories that the install creates are rwxr-xr-x (never group- or world-writable, even
# under a loose umask such as 002); a stricter umask still narrows them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS rokconv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/../packaging/rokconv.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME rokconv
        COMPONENT program)

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
  install(FILES ${ROKCONV_MANPAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
else()
  install(FILES ${ROKCONV_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT program)
endif()

# The library: the static archive, its public headers, and two ways to find them. Both the
# CMake package and rokconv.pc locate the installation from where they lie, so a prefix
# keeps working when it is moved (and the Debian package, made under /usr from a build
# configured for /usr/local, points at /usr).
install(TARGETS rokconv_lib EXPORT rokconvTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/rokconv
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
        FILES_MATCHING PATTERN "*.hpp")
install(EXPORT rokconvTargets NAMESPACE rokconv:: DESTINATION ${ROKCONV_CMAKEDIR} COMPONENT dev)

# A library built with -DROKCONV_THREADS=OFF has no thread code: a program linking it needs no
# thread library, and the CMake package and rokconv.pc ask for none.
if(NOT DEFINED ROKCONV_THREADS OR ROKCONV_THREADS)
  set(ROKCONV_FIND_THREADS "find_dependency(Threads)")
  set(ROKCONV_PC_THREADS " -pthread")
else()
  set(ROKCONV_FIND_THREADS "")
  set(ROKCONV_PC_THREADS "")
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/rokconvConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/rokconvConfig.cmake
  INSTALL_DESTINATION ${ROKCONV_CMAKEDIR})
# any 2.x will do for a program written for 2.0; a package built for another pointer size is
# turned down
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/rokconvConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rokconvConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/rokconvConfigVersion.cmake
        DESTINATION ${ROKCONV_CMAKEDIR} COMPONENT dev)

# rokconv.pc: the prefix is found from the file's own folder, LIBDIR/pkgconfig, so that the
# installation can be moved; an absolute LIBDIR or INCLUDEDIR is written as it is
set(ROKCONV_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${ROKCONV_PC_DIR})
  set(ROKCONV_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH ROKCONV_PC_PREFIX /${ROKCONV_PC_DIR} /)
  string(REGEX REPLACE "/$" "" ROKCONV_PC_PREFIX "\${pcfiledir}/${ROKCONV_PC_PREFIX}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  set(ROKCONV_PC_${dir} ${CMAKE_INSTALL_${dir}})
  if(NOT IS_ABSOLUTE ${CMAKE_INSTALL_${dir}})
    set(ROKCONV_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/rokconv.pc.in ${CMAKE_CURRENT_BINARY_DIR}/rokconv.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/rokconv.pc DESTINATION ${ROKCONV_PC_DIR} COMPONENT dev)

# Debian packages: rokconv (the program and its manual page) and librokconv-dev (the library,
# headers, CMake package and rokconv.pc). Neither needs the other: the program links the
# library statically, and building on the library needs no program.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rokconv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "rokconv developers")
set(CPACK_PACKAGE_CONTACT "rokconv developers <rokconv@example.org>")
# Each package's description starts with its own summary line; an empty shared summary keeps
# CPack from putting one line before both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL program dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "rokconv developers <rokconv@example.org>")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# both packages come from the one source, whose changelog they carry
set(CPACK_DEBIAN_PACKAGE_SOURCE rokconv)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME rokconv)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "converter from ROK 3D models to LWOB, OBJ, glTF and STL\n\
rokconv reads a 3D model saved in the line-oriented ROK text format and\n\
writes it as a LightWave object file (an IFF FORM of type LWOB), as\n\
Wavefront OBJ with its materials, as glTF 2.0 (binary or JSON) or as\n\
binary STL for 3D printing. Points, faces, free-standing lines and the\n\
palette colours that they use are carried over as far as each format holds\n\
them; every used colour becomes one named surface or material. Damaged or\n\
truncated files are converted as far as they go, and --info reports what\n\
they lost.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME librokconv-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "library for reading ROK 3D models and writing LWOB, OBJ, glTF and STL\n\
The rokconv library (C++20, static) reads 3D models in the ROK text format\n\
into memory, orders each face's edges into a ring of points, and writes\n\
models as LightWave objects (LWOB), Wavefront OBJ, glTF 2.0 and binary STL,\n\
as the rokconv program does.\n\
This package holds the static library, its headers, a CMake package\n\
(find_package(rokconv)) and a pkg-config file.")

# /usr/share/doc/<package>/copyright and changelog.gz, which Debian wants in every package.
# The copyright file is LICENSE in the machine-readable format (Format 1.0): the notice's
# year and holders go to Copyright, the permission text, each line indented and each blank
# line a lone ".", to License: Expat. The changelog (Debian's syntax; native version, so one
# entry per release) is compressed like the manual page. Both are installed with EXCLUDE_FROM_ALL:
# cpack installs one component at a time and so takes them, while a plain `cmake --install`,
# which is not making a Debian package, leaves them out.
set(ROKCONV_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ROKCONV_LICENSE})
file(READ ${ROKCONV_LICENSE} ROKCONV_LICENSE_TEXT)
string(FIND "${ROKCONV_LICENSE_TEXT}" "Permission is hereby granted" ROKCONV_PERMISSION_AT)
if(NOT ROKCONV_LICENSE_TEXT MATCHES "\nCopyright \\(c\\) ([^\n]+)" OR ROKCONV_PERMISSION_AT LESS 0)
  message(FATAL_ERROR "${ROKCONV_LICENSE} is not the MIT licence with a \"Copyright (c)\" line")
endif()
set(ROKCONV_COPYRIGHT "${CMAKE_MATCH_1}")
string(SUBSTRING "${ROKCONV_LICENSE_TEXT}" ${ROKCONV_PERMISSION_AT} -1 ROKCONV_LICENSE_TEXT)
string(STRIP "${ROKCONV_LICENSE_TEXT}" ROKCONV_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" ROKCONV_LICENSE_TEXT "${ROKCONV_LICENSE_TEXT}")
string(REPLACE "\n" "\n " ROKCONV_LICENSE_TEXT " ${ROKCONV_LICENSE_TEXT}")
set(ROKCONV_DEBIAN_DOC ${CMAKE_CURRENT_BINARY_DIR}/debian-doc)
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${ROKCONV_DEBIAN_DOC}/copyright @ONLY)
set(ROKCONV_DEBIAN_DOC_FILES ${ROKCONV_DEBIAN_DOC}/copyright)

set(ROKCONV_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ROKCONV_CHANGELOG})
file(STRINGS ${ROKCONV_CHANGELOG} ROKCONV_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ROKCONV_CHANGELOG_TOP MATCHES "^rokconv \\(${PROJECT_VERSION}\\) ")
  message(WARNING "The newest entry of ${ROKCONV_CHANGELOG} is not for ${PROJECT_VERSION}: "
                  "\"${ROKCONV_CHANGELOG_TOP}\"")
endif()
if(ROKCONV_GZIP)
  add_custom_command(
    OUTPUT ${ROKCONV_DEBIAN_DOC}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${ROKCONV_CHANGELOG} ${ROKCONV_DEBIAN_DOC}/changelog
    COMMAND ${ROKCONV_GZIP} -9nf ${ROKCONV_DEBIAN_DOC}/changelog
    DEPENDS ${ROKCONV_CHANGELOG}
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
  add_custom_target(rokconv_changelog ALL DEPENDS ${ROKCONV_DEBIAN_DOC}/changelog.gz)
  list(APPEND ROKCONV_DEBIAN_DOC_FILES ${ROKCONV_DEBIAN_DOC}/changelog.gz)
else()
  message(WARNING "gzip not found: the Debian packages will lack changelog.gz")
endif()
foreach(component PROGRAM DEV)
  string(TOLOWER ${component} name)
  install(FILES ${ROKCONV_DEBIAN_DOC_FILES}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${component}_PACKAGE_NAME}
          COMPONENT ${name} EXCLUDE_FROM_ALL)
endforeach()
include(CPack)
