# The RTL-SDR byte conversion against VOLK's, and one radio's receive road
# at 3.2 MS/s.
find_package(Volk REQUIRED)
vireo_bench(rtl_bench ${CMAKE_CURRENT_LIST_DIR}/rtlBench.cpp)
target_link_libraries(rtl_bench PRIVATE Volk::volk)
# The benchmark mode (bench/core) and the data-task drain of the tests.
target_include_directories(rtl_bench PRIVATE ${PROJECT_SOURCE_DIR}/bench ${PROJECT_SOURCE_DIR}/tests)
