vireo_bench(audio_bench audio/audioBench.cpp)
