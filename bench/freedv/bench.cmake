vireo_bench(freedv_bench freedv/freedvBench.cpp)
