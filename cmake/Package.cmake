# The Debian package (scripts/package.sh): what CPack needs to know. The
# libraries it depends on are found by dpkg-shlibdeps, not listed here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Velmora developers")
set(CPACK_PACKAGE_CONTACT "The Velmora developers <developers@velmora.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure a switch-controller module over a serial port")
# Lines of the long description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora shows the codes a switch-controller module stores for its 32
switches and 32 scenes in one table, reads them from the module, writes them
into it and keeps them in a file. velmora-cli does the same from scripts, on
many modules at once; velmora-sim plays the module on a pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not libraries, so no tool finds them: a font for the Chinese captions and
# Qt's translations for the boxes' standard buttons.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
include(CPack)
