vireo_internal_test(core_radio_tests core/radioTest.cpp core/vtrxTest.cpp core/receiveTest.cpp)
vireo_host_test(core_host_tests core/vtrxHostTest.cpp)
vireo_internal_test(core_spectrum_tests core/spectrumTest.cpp)
