vireo_internal_test(core_radio_tests core/radioTest.cpp core/vtrxTest.cpp)
vireo_host_test(core_host_tests core/vtrxHostTest.cpp)
vireo_internal_test(core_transmit_tests core/transmitTest.cpp core/testRadioTest.cpp)
vireo_host_test(core_testradio_host_tests core/testRadioHostTest.cpp)
