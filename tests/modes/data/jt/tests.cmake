# The JT decoder and mode. JT_TEST_DATA: the published generators (to encode
# test frames) and the real recordings with their reference decodes.
vireo_internal_test(jt_decoder_tests modes/data/jt/jtDecoderTest.cpp modes/data/jt/jtTablesTest.cpp
                    modes/data/jt/jtReferenceSnrTest.cpp)
target_compile_definitions(jt_decoder_tests PRIVATE JT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/modes/data/jt")
vireo_internal_test(jt_loop_tests modes/data/jt/jtLoopTest.cpp)
target_compile_definitions(jt_loop_tests PRIVATE JT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/modes/data/jt")
vireo_internal_test(jt_mode_tests modes/data/jt/jtModeTest.cpp)
target_compile_definitions(jt_mode_tests PRIVATE JT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/modes/data/jt")
vireo_host_test(jt_host_tests modes/data/jt/jtHostTest.cpp)
target_compile_definitions(jt_host_tests PRIVATE JT_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/modes/data/jt")
