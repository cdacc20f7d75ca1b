# The sdrplay_api stand-in: the shared state (libsdrplayworld.so), the
# library itself as the loader finds it installed (libsdrplay_api.so, to be
# copied under a versioned name), and one lacking a function. Built from the
# system's own declarations of the library.
vireo_standin(standin_sdrplay_world NAME sdrplayworld
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sdrplayWorld.cpp)
target_include_directories(standin_sdrplay_world PRIVATE ${PROJECT_SOURCE_DIR}/src)
foreach(variant standin_sdrplay standin_sdrplay_partial)
  vireo_standin(${variant} NAME sdrplay_api
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/sdrplayStandin.cpp LIBS standin_sdrplay_world ${CMAKE_DL_LIBS})
  target_include_directories(${variant} PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_LIST_DIR})
  set_target_properties(${variant} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endforeach()
target_compile_definitions(standin_sdrplay_partial PRIVATE STANDIN_SDRPLAY_PARTIAL=1)
