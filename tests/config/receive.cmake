velmora_add_test(test_receive SOURCES test_receive.cpp LIBS velmora_config)
