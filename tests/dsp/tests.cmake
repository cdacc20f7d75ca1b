vireo_internal_test(dsp_kernels_test ${CMAKE_CURRENT_LIST_DIR}/dspMathTest.cpp)
vireo_internal_test(dsp_stream_tools_test ${CMAKE_CURRENT_LIST_DIR}/streamToolsTest.cpp)
