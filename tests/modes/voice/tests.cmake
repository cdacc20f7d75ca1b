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

# FreeDV. The library tests run against the system's codec2, whose -dev
# package also gives them a reference decoder of their own; absence and
# libraries lacking an entry each need a process of their own, since the
# library once loaded stays loaded.
find_package(codec2 QUIET)
if(TARGET codec2)
  vireo_internal_test(freedv_tests
    modes/voice/freedvLibraryTest.cpp
    modes/voice/freedvModesTest.cpp
    modes/voice/freedvLoopTest.cpp
    $<TARGET_OBJECTS:vireo_api>)
  target_link_libraries(freedv_tests PRIVATE codec2 vireo_fake_audio)
else()
  message(WARNING "codec2 development files not found: FreeDV tests against the library not built")
endif()
vireo_internal_test(freedv_absent_tests modes/voice/freedvAbsentTest.cpp modes/voice/complexAgcTest.cpp)
vireo_standin_test(freedv_standin_no_clip_tests STANDINS standin_codec2_no_freedv_set_clip
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/freedvStandinTest.cpp)
target_compile_definitions(freedv_standin_no_clip_tests PRIVATE STANDIN_LACKS_CLIP=1)
vireo_standin_test(freedv_standin_no_comprx_tests STANDINS standin_codec2_no_freedv_comprx
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/freedvStandinTest.cpp)
