vireo_internal_test(core_radio_tests core/radioTest.cpp core/vtrxTest.cpp core/receiveTest.cpp
  support/allocationCounter.cpp)
vireo_host_test(core_host_tests core/vtrxHostTest.cpp)
vireo_internal_test(core_spectrum_tests core/spectrumTest.cpp)

# Gain control and modes are driven through the exported functions, compiled
# into each test beside the core so that the test can also reach the objects
# behind its handles.
vireo_internal_test(core_agc_tests
  ${CMAKE_CURRENT_LIST_DIR}/agcTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hostValuesTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
vireo_internal_test(core_mode_tests
  ${CMAKE_CURRENT_LIST_DIR}/modDemodTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/controllerTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
vireo_internal_test(core_transmit_tests core/transmitTest.cpp core/testRadioTest.cpp core/noisyLoopRadioTest.cpp)
vireo_host_test(core_testradio_host_tests core/testRadioHostTest.cpp)
vireo_host_test(core_end_to_end_host_tests core/endToEndHostTest.cpp)
# The C interface compiled in: the test also makes the radio's device fall
# silent behind the library's back.
vireo_internal_test(core_keying_tests ${CMAKE_CURRENT_LIST_DIR}/keyingTest.cpp $<TARGET_OBJECTS:vireo_api>)
# Seeded random histories of a host keying in a hurry, through the shared
# library alone; bench/core replays a seed with the same sources.
vireo_host_test(core_keying_history_tests
  ${CMAKE_CURRENT_LIST_DIR}/keyingHistoryTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keyingHistory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/keyingModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hostView.cpp)
