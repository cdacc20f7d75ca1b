vireo_internal_test(dsp_kernels_tests dsp/dspMathTest.cpp)
vireo_internal_test(dsp_stream_tools_tests dsp/streamToolsTest.cpp)
vireo_internal_test(dsp_fft_tests dsp/fftTest.cpp)
# The exported transform functions, called through their C prototypes. The
# host-side arrays are built here as the library builds them (heap buff), so
# the test compiles the interface file into itself rather than linking the
# shared library.
vireo_internal_test(dsp_fft_exports_tests dsp/fftExportsTest.cpp ${PROJECT_SOURCE_DIR}/src/vireocore.cpp)
