vireo_internal_test(dsp_kernels_test ${CMAKE_CURRENT_LIST_DIR}/dspMathTest.cpp)
