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
