vireo_bench(data_psk_bench data/pskBench.cpp)
vireo_bench(data_experiments_bench data/experimentsBench.cpp)
