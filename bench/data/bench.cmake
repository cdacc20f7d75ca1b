vireo_bench(data_psk_bench data/pskBench.cpp)
vireo_bench(data_multipsk_bench data/multiPskBench.cpp)
target_include_directories(data_multipsk_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
vireo_bench(data_experiments_bench data/experimentsBench.cpp)
