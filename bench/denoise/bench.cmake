vireo_bench(denoise_bench ${CMAKE_CURRENT_LIST_DIR}/denoiseBench.cpp)
# The benchmark feeds the same made-up signals as the tests.
target_include_directories(denoise_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
