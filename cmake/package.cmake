# The Debian package: `cpack -G DEB` in a build folder (scripts/package makes
# one). Everything `cmake --install` installs goes into one package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lodecast)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "lodecast developers")
set(CPACK_PACKAGE_CONTACT "lodecast developers <lodecast@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "adds ore deposits to block-game worlds saved on disk")
# CPack puts the summary first and indents the rest; an empty line
# separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "lodecast walks a world saved in the old one-file-per-chunk format
(gzip-compressed NBT) and carves randomly placed veins of an ore into every
chunk that passes its filters, replacing each chunk file only when its new
content is complete.

The package also holds lodecast-census (ore counts by height, as a table,
CSV or SVG chart), lodecast-mkworld (demo worlds), nbtdump (prints NBT
files) and the lodecast-nbt library (C API, static and shared, pkg-config
and CMake files).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the programs really link (dpkg-shlibdeps), and
# a shlibs file plus ldconfig trigger for liblodecast-nbt.so.0.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
