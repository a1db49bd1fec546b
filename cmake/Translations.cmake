# The window's English translation. The Chinese texts in the sources are the
# source texts; translations/velmora_en.ts holds their English, and the build
# makes velmora_en.qm from it in build/translations, beside the program, where
# it finds it. `cmake --build build --target update-translations` brings the
# .ts up to date with the sources (new texts come in unfinished, texts gone
# from the sources leave it); then translate the unfinished ones, in Qt
# Linguist or by hand.
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)

set(VELMORA_TS_FILES ${PROJECT_SOURCE_DIR}/translations/velmora_en.ts)
set_source_files_properties(${VELMORA_TS_FILES} PROPERTIES OUTPUT_LOCATION ${PROJECT_BINARY_DIR}/translations)
qt_add_lrelease(velmora TS_FILES ${VELMORA_TS_FILES} QM_FILES_OUTPUT_VARIABLE VELMORA_QM_FILES OPTIONS -silent)

# Line numbers are left out of the .ts, so that an edit elsewhere in a source
# file does not change it.
add_custom_target(update-translations
  COMMAND Qt6::lupdate -locations none -no-obsolete -extensions cpp,h -I ${PROJECT_SOURCE_DIR}/src
          -source-language zh_CN -target-language en ${PROJECT_SOURCE_DIR}/src -ts ${VELMORA_TS_FILES}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Updating translations/velmora_en.ts from the sources"
  VERBATIM)
