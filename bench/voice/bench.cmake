vireo_bench(voice_bench voice/voiceBench.cpp)
# The FM discriminator is compared with liquid-dsp's on the same buffer.
find_library(LIQUID_LIBRARY liquid REQUIRED)
vireo_bench(voice_fm_bench ${CMAKE_CURRENT_LIST_DIR}/fmBench.cpp)
target_link_libraries(voice_fm_bench PRIVATE ${LIQUID_LIBRARY})
