# SDRplay receivers against the sdrplay_api stand-in, which each case
# "installs" in a folder of its own for the loader to find.
vireo_standin_test(sdrplay_tests STANDINS standin_sdrplay_world SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/sdrplayLoaderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sdrplayControlsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sdrplayStreamTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sdrplayLifeTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
add_dependencies(sdrplay_tests standin_sdrplay standin_sdrplay_partial)
target_link_libraries(sdrplay_tests PRIVATE vireo_fake_audio)
target_compile_definitions(sdrplay_tests PRIVATE
  SDRPLAY_STANDIN="$<TARGET_FILE:standin_sdrplay>"
  SDRPLAY_STANDIN_PARTIAL="$<TARGET_FILE:standin_sdrplay_partial>")
