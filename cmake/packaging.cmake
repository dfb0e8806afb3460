# A Debian package of sorvit, the simulated card library, its header and
# the man page: cpack -G DEB in the build tree.
set(CPACK_PACKAGE_NAME sorvit)
set(CPACK_PACKAGE_VENDOR "Velqor Card Systems")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Inspect and change the configuration EEPROM of a VQ card")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sorvit developers <sorvit@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "sorvit dumps, reads and writes the configuration EEPROM of one card\nthrough the card-access library libvelqor2. The package holds the\nsimulated card library, so that sorvit runs without a card.")
include(CPack)
