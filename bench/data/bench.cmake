vireo_bench(data_psk_bench data/pskBench.cpp)
# The JT decoder on the tests' recordings and encoder.
vireo_bench(data_jt_bench data/jtBench.cpp)
target_include_directories(data_jt_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/modes/data/jt)
target_compile_definitions(data_jt_bench PRIVATE JT_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/modes/data/jt")
vireo_bench(data_multipsk_bench data/multiPskBench.cpp)
target_include_directories(data_multipsk_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
vireo_bench(data_experiments_bench data/experimentsBench.cpp)
