vireo_internal_test(psk_detector_tests modes/data/pskDetectorTest.cpp)
vireo_internal_test(psk_error_rate_tests modes/data/pskErrorRateTest.cpp)
vireo_internal_test(psk_mode_tests modes/data/pskModeTest.cpp)
vireo_internal_test(psk_transmit_tests modes/data/pskTransmitTest.cpp)
vireo_host_test(psk_host_tests modes/data/pskHostTest.cpp)

vireo_internal_test(chirp_tests modes/data/golayTest.cpp modes/data/chirpTest.cpp)
# The capture file goes to the working directory: a folder of the build's
# own, in which every case makes a fresh folder of its own.
set(VIREO_CHIRP_CAPTURE_DIR ${CMAKE_CURRENT_BINARY_DIR}/chirpCapture)
file(MAKE_DIRECTORY ${VIREO_CHIRP_CAPTURE_DIR})
add_executable(chirp_capture_tests modes/data/chirpCaptureTest.cpp)
target_link_libraries(chirp_capture_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(chirp_capture_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(chirp_capture_tests WORKING_DIRECTORY ${VIREO_CHIRP_CAPTURE_DIR}
  DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
# The mode is made through its exported function beside the internals; the
# standard's tables are checked against their text copies in dabTables/.
vireo_internal_test(dab_tests modes/data/dabTest.cpp $<TARGET_OBJECTS:vireo_api>)
target_compile_definitions(dab_tests PRIVATE DAB_TABLE_DIR="${CMAKE_CURRENT_LIST_DIR}/dabTables")
vireo_internal_test(cw_tests modes/data/cwTest.cpp)
vireo_internal_test(cw_error_rate_tests modes/data/cwErrorRateTest.cpp)
vireo_internal_test(cw_outside_morse_tests modes/data/cwOutsideMorseTest.cpp)
vireo_internal_test(rtty_tests modes/data/rttyTest.cpp)
vireo_internal_test(rtty_error_rate_tests modes/data/rttyErrorRateTest.cpp)
vireo_internal_test(rtty_outside_modem_tests modes/data/rttyOutsideModemTest.cpp)
vireo_internal_test(hell_tests modes/data/hellTest.cpp)
vireo_internal_test(text_modes_host_tests modes/data/textModesHostTest.cpp $<TARGET_OBJECTS:vireo_api>)
vireo_internal_test(text_queue_race_tests modes/data/textQueueRaceTest.cpp)
