# The filters against liquid-dsp doing the same work on the same buffers.
find_library(LIQUID_LIBRARY liquid REQUIRED)
vireo_bench(dsp_filters_bench ${CMAKE_CURRENT_LIST_DIR}/filtersBench.cpp)
target_link_libraries(dsp_filters_bench PRIVATE ${LIQUID_LIBRARY})
