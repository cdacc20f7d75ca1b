# Transforms against kissfft<float> and FFTW (single precision, FFTW_MEASURE),
# and the vector kernels against their plain loops.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)

vireo_bench(dsp_fft_bench ${CMAKE_CURRENT_LIST_DIR}/fftBench.cpp)
target_link_libraries(dsp_fft_bench PRIVATE PkgConfig::FFTW3F)

vireo_bench(dsp_kernels_bench ${CMAKE_CURRENT_LIST_DIR}/kernelsBench.cpp)
