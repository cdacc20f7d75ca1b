# Stand-ins shared by the suites, compiled once.
add_library(vireo_fake_audio STATIC support/fakeAudio.cpp)
target_link_libraries(vireo_fake_audio PUBLIC vireo_internal)
target_include_directories(vireo_fake_audio PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
