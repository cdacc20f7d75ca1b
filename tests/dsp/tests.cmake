set(VIREO_DSP_LSAN ${CMAKE_CURRENT_LIST_DIR}/lsanSuppressions.cpp)
vireo_internal_test(dsp_kernels_test ${CMAKE_CURRENT_LIST_DIR}/dspMathTest.cpp ${VIREO_DSP_LSAN})
vireo_internal_test(dsp_stream_tools_test ${CMAKE_CURRENT_LIST_DIR}/streamToolsTest.cpp ${VIREO_DSP_LSAN})
vireo_internal_test(dsp_fft_test ${CMAKE_CURRENT_LIST_DIR}/fftTest.cpp ${VIREO_DSP_LSAN})
# The exported transform functions, called through their C prototypes. The
# host-side arrays are built here as the library builds them (heap buff), so
# the test compiles the interface file into itself rather than linking the
# shared library.
vireo_internal_test(dsp_fft_exports_test ${CMAKE_CURRENT_LIST_DIR}/fftExportsTest.cpp
  ${PROJECT_SOURCE_DIR}/src/vireocore.cpp ${VIREO_DSP_LSAN})
