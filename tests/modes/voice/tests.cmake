# The voice modes: the shared transmit chain step by step, then each mode on
# the loop-back test radio through the exported functions.
vireo_internal_test(voice_chain_tests modes/voice/voiceTxChainTest.cpp)
# On the loop-back test radio, through the exported functions; the exported
# objects are compiled in so that the simulated card can stand in for the
# sound back-end.
vireo_internal_test(voice_loop_tests
  ${CMAKE_CURRENT_LIST_DIR}/voiceLoopTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fmLoopTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(voice_loop_tests PRIVATE vireo_fake_audio)
vireo_internal_test(voice_mode_tests
  ${CMAKE_CURRENT_LIST_DIR}/voiceModesTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
vireo_internal_test(voice_fm_tests modes/voice/fmModeTest.cpp)
