# The filters against liquid-dsp doing the same work on the same buffers.
find_library(LIQUID_LIBRARY liquid REQUIRED)
vireo_bench(filters_bench ${CMAKE_CURRENT_LIST_DIR}/filtersBench.cpp)
target_link_libraries(filters_bench PRIVATE ${LIQUID_LIBRARY})
