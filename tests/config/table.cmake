# The configuration table, its file and the file handlers.
velmora_add_test(test_tablefile SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tablefile.cpp LIBS velmora_config)
target_compile_definitions(test_tablefile PRIVATE VELMORA_TABLE_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
velmora_add_test(test_configtable SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_configtable.cpp LIBS velmora_config)
velmora_add_test(test_filehandlers SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_filehandlers.cpp LIBS velmora_config)
