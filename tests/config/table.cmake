# The configuration table, its file and the file handlers.
velmora_add_test(test_tablefile SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_tablefile.cpp LIBS velmora_config)
target_compile_definitions(test_tablefile PRIVATE VELMORA_TABLE_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data")
