# The Debian package of the installation (`make package`). Dependencies come from
# dpkg-shlibdeps; the package has no maintainer scripts: the MIME, desktop and icon caches are
# refreshed by the triggers of the packages that own them, and udev picks up new rules itself.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zemprix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZEMPRIX developers")
set(CPACK_PACKAGE_CONTACT "${ZEMPRIX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for COP8 Flash microcontrollers")
set(CPACK_PACKAGE_DESCRIPTION
  "ZEMPRIX programs COP8 Flash microcontrollers through the ZEMPRIX programmer\n"
  "box on a parallel port (ppdev) or a serial port. It loads Intel, Motorola and\n"
  "Tektronix hex files, erases, programs, reads and verifies the Flash and the\n"
  "option byte, runs one-key auto programming and board-after-board production\n"
  "with serial numbers.\n"
  "\n"
  "The package holds the desktop application zemprix, the command-line\n"
  "programmer zemprix-cli for scripts and production lines, and zemprix-boxsim,\n"
  "a simulated programmer box for trying both without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEMPRIX_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEMPRIX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without a platform plugin the desktop application cannot open a window; libqt6gui6 only
# recommends it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The production store opens its engines through Qt SQL's plugins, which dpkg-shlibdeps cannot
# see: SQLite for one PC, PostgreSQL for a line of stations.
string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libqt6sql6-sqlite, libqt6sql6-psql")
# Help > Help Topics and the support links open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
