vireo_bench(denoise_bench ${CMAKE_CURRENT_LIST_DIR}/denoiseBench.cpp)
