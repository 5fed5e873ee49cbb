# Packages of what `cmake --install` installs, made in a build folder with
# `cpack -G DEB` and `cpack -G TGZ`. Their version is the project version,
# the one --version prints.
set(FITSQUAD_MAINTAINER "fitsquad maintainers <fitsquad@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME fitsquad)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR fitsquad)
set(CPACK_PACKAGE_CONTACT ${FITSQUAD_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_DESCRIPTION
"Tools for two-dimensional FITS images from a detector read out through
four interleaved amplifier channels: quadsplit writes an image's four
channel images, quadmerge rebuilds the image from them, boxpatch repairs a
box of bad pixels, fitspreview writes a picture of an image and fitsframe a
synthetic raw frame; fitsquad-batch runs them over many frames, as a Slurm
job array or with GNU parallel.")
# The copyright file and the changelog in share/doc/fitsquad, where Debian
# wants them (changelog.gz, as the package is native: its version has no
# Debian revision). No license has been chosen for fitsquad yet, and the
# copyright file says so. The changelog's one entry is dated when the build
# folder is configured, or at SOURCE_DATE_EPOCH when that is set.
file(WRITE ${PROJECT_BINARY_DIR}/copyright
"fitsquad: ${PROJECT_DESCRIPTION}

Copyright 2026 fitsquad maintainers

All rights reserved. No license has been chosen for fitsquad yet, so none
is granted.
")
string(TIMESTAMP FITSQUAD_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/changelog
"fitsquad (${PROJECT_VERSION}) UNRELEASED; urgency=medium

  * fitsquad ${PROJECT_VERSION}, packaged by CPack from a release build; its
    changes are in the history of the project's sources.

 -- ${FITSQUAD_MAINTAINER}  ${FITSQUAD_CHANGELOG_DATE}
")
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -9n -c changelog OUTPUT_FILE changelog.gz
                WORKING_DIRECTORY ${PROJECT_BINARY_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip -9n changelog failed: ${status}")
endif()
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The package's dependencies are those of the programs as linked, found by
# dpkg-shlibdeps (Debian package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
