vireo_bench(core_chain_bench core/chainBench.cpp)
