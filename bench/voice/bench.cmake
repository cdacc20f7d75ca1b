vireo_bench(voice_bench voice/voiceBench.cpp)
