# The RTL-SDR byte conversion against VOLK's, and one radio's receive road
# at 3.2 MS/s.
find_package(Volk REQUIRED)
vireo_bench(rtl_bench ${CMAKE_CURRENT_LIST_DIR}/rtlBench.cpp)
target_link_libraries(rtl_bench PRIVATE Volk::volk)
# The benchmark mode (bench/core) and the data-task drain of the tests.
target_include_directories(rtl_bench PRIVATE ${PROJECT_SOURCE_DIR}/bench ${PROJECT_SOURCE_DIR}/tests)

# What the waterfall's speed costs a transceiver on the librtlsdr stand-in at
# 1.536 MS/s in real time (a probe: run with the stand-in on the library path).
vireo_bench(rtl_waterfall_probe ${CMAKE_CURRENT_LIST_DIR}/waterfallProbe.cpp $<TARGET_OBJECTS:vireo_api>)
target_include_directories(rtl_waterfall_probe PRIVATE ${PROJECT_SOURCE_DIR}/tests)
if(TARGET standin_rtlsdr)
  add_dependencies(rtl_waterfall_probe standin_rtlsdr)
endif()
