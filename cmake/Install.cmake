# What `cmake --install` puts in place: the programs (the window's
# translations are built into it), the desktop entry, the table files' MIME type, the icon in
# every size a menu asks for, the AppStream metadata, the man pages (every
# man/*.1, compressed), velmora-cli's bash completion, and the copyright and
# changelog where Debian looks for them.
include(GNUInstallDirs)

set(VELMORA_APP_ID org.velmora.Velmora)

foreach(program velmora velmora-sim velmora-cli)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/data/${VELMORA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# File managers know table files by it and offer the program for them.
install(FILES ${PROJECT_SOURCE_DIR}/data/${VELMORA_APP_ID}.mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${VELMORA_APP_ID}.xml)
install(FILES ${PROJECT_SOURCE_DIR}/data/icons/${VELMORA_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/hicolor/${size}x${size}/${VELMORA_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Where bash-completion looks for a command's completion when it is first used.
install(FILES ${PROJECT_SOURCE_DIR}/data/completion/velmora-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

configure_file(${PROJECT_SOURCE_DIR}/data/${VELMORA_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/data/${VELMORA_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/${VELMORA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Man pages carry the version (@VERSION@) and are installed gzipped, without
# a time stamp, as Debian keeps them.
set(VERSION ${PROJECT_VERSION})
file(GLOB VELMORA_MAN_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1)
set(VELMORA_MAN_OUTPUTS)
foreach(page ${VELMORA_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  configure_file(${page} ${PROJECT_BINARY_DIR}/man/${name} @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${name}.gz
                     COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/man/${name} > ${PROJECT_BINARY_DIR}/man/${name}.gz
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${name}
                     COMMENT "Compressing man page ${name}")
  list(APPEND VELMORA_MAN_OUTPUTS ${PROJECT_BINARY_DIR}/man/${name}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${VELMORA_MAN_OUTPUTS})
install(FILES ${VELMORA_MAN_OUTPUTS} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence in Debian's machine-readable copyright form (its text taken from
# LICENSE, after the copyright line), and the changelog, gzipped as the man pages.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^.*Copyright [^\n]*\n\n" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " VELMORA_LICENSE_TEXT " ${license}")
configure_file(${PROJECT_SOURCE_DIR}/data/copyright.in ${PROJECT_BINARY_DIR}/data/copyright @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/data/changelog.gz
                   COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/data/changelog > ${PROJECT_BINARY_DIR}/data/changelog.gz
                   DEPENDS ${PROJECT_SOURCE_DIR}/data/changelog)
add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/data/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/data/copyright ${PROJECT_BINARY_DIR}/data/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora)
