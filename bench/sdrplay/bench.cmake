# The SDRplay sample path: the stream callback's conversion and peak against
# VOLK's 16-bit conversion, linked here only; and the real-time factor of the
# callbacks into a radio at 10 MS/s and into both tuners at 2 MS/s.
find_package(Volk REQUIRED)
vireo_bench(sdrplay_bench ${CMAKE_CURRENT_LIST_DIR}/sdrplayBench.cpp)
target_link_libraries(sdrplay_bench PRIVATE Volk::volk)
# The benchmark mode (bench/core) and the data-task drain of the tests.
target_include_directories(sdrplay_bench PRIVATE ${PROJECT_SOURCE_DIR}/bench ${PROJECT_SOURCE_DIR}/tests)
