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
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The package's dependencies are those of the programs as linked, found by
# dpkg-shlibdeps (Debian package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
