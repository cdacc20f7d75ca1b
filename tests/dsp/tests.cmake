vireo_internal_test(dsp_kernels_tests dsp/dspMathTest.cpp dsp/simdLevelTest.cpp)
vireo_internal_test(dsp_stream_tools_tests dsp/streamToolsTest.cpp)
vireo_internal_test(dsp_fft_tests dsp/fftTest.cpp dsp/hostFftTest.cpp)
vireo_host_test(dsp_fft_host_tests dsp/fftHostTest.cpp)
