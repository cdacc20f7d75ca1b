# The voice modes: the shared transmit chain step by step, then each mode on
# the loop-back test radio through the exported functions.
vireo_internal_test(voice_chain_tests modes/voice/voiceTxChainTest.cpp)
# On the loop-back test radio, through the exported functions; the exported
# objects are compiled in so that the simulated card can stand in for the
# sound back-end.
# Their gatherings that saw the microphone stream break (jump, or fall silent
# while the card was late) are counted across the suite's processes in one
# file, emptied before them.
add_executable(voice_loop_tests
  ${CMAKE_CURRENT_LIST_DIR}/voiceLoopTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fmLoopTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(voice_loop_tests PRIVATE vireo_internal vireo_fake_audio GTest::gtest GTest::gtest_main)
target_include_directories(voice_loop_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
set(VIREO_MICROPHONE_JUMPS ${CMAKE_CURRENT_BINARY_DIR}/voice_loop_jumps)
add_test(NAME voice_loop.jumps.reset COMMAND ${CMAKE_COMMAND} -E rm -f ${VIREO_MICROPHONE_JUMPS})
set_tests_properties(voice_loop.jumps.reset PROPERTIES FIXTURES_SETUP voice_loop_jumps)
gtest_discover_tests(voice_loop_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED voice_loop_jumps
             ENVIRONMENT VIREO_MICROPHONE_JUMPS=${VIREO_MICROPHONE_JUMPS})
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
