# The window's English translation. The Chinese texts in the sources are the
# source texts; translations/velmora_en.ts holds their English. The build
# makes velmora_en.qm from it (in build/translations) and builds it into the
# program, with Qt's own Chinese catalogue for the standard buttons and the
# file dialog, so a copy of the program alone speaks both languages.
# `cmake --build build --target update-translations` brings the .ts up to
# date with the sources (new texts come in unfinished, texts gone from the
# sources leave it); then translate the unfinished ones, in Qt Linguist or by
# hand.
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)

set(VELMORA_TS_FILES ${PROJECT_SOURCE_DIR}/translations/velmora_en.ts)

# velmora_build_in_translations(TARGET): the catalogues as TARGET's resources
# under ":/i18n"; called where TARGET is made, so that one rule builds each.
function(velmora_build_in_translations target)
  set_source_files_properties(${VELMORA_TS_FILES} PROPERTIES OUTPUT_LOCATION ${PROJECT_BINARY_DIR}/translations)
  qt_add_lrelease(${target} TS_FILES ${VELMORA_TS_FILES} QM_FILES_OUTPUT_VARIABLE qm_files OPTIONS -silent)
  set(VELMORA_QM_FILES ${qm_files} CACHE INTERNAL "the program's .qm files")
  set_source_files_properties(${qm_files} PROPERTIES QT_RESOURCE_ALIAS velmora_en.qm)
  # Qt's Chinese catalogue as Debian's qt6-translations-l10n has it; a build
  # without it leaves the program to look in Qt's folder at run time.
  set(qt_chinese ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}/qtbase_zh_CN.qm)
  if(EXISTS ${qt_chinese})
    set_source_files_properties(${qt_chinese} PROPERTIES QT_RESOURCE_ALIAS qtbase_zh_CN.qm)
    list(APPEND qm_files ${qt_chinese})
  else()
    message(STATUS "No ${qt_chinese}: Qt's own Chinese texts are not built into the program")
  endif()
  qt_add_resources(${target} "translations" PREFIX "/i18n" FILES ${qm_files})
endfunction()

# Line numbers are left out of the .ts, so that an edit elsewhere in a source
# file does not change it.
add_custom_target(update-translations
  COMMAND Qt6::lupdate -locations none -no-obsolete -extensions cpp,h -I ${PROJECT_SOURCE_DIR}/src
          -source-language zh_CN -target-language en ${PROJECT_SOURCE_DIR}/src -ts ${VELMORA_TS_FILES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Updating translations/velmora_en.ts from the sources"
  VERBATIM)
