vireo_bench(data_psk_bench data/pskBench.cpp)
