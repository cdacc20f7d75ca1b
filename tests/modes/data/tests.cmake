vireo_internal_test(psk_detector_tests modes/data/pskDetectorTest.cpp)
vireo_internal_test(psk_error_rate_tests modes/data/pskErrorRateTest.cpp)
vireo_internal_test(psk_mode_tests modes/data/pskModeTest.cpp)
