# Fuzz targets: one folder each under tests/fuzz/, holding the target's
# sources (defining LLVMFuzzerTestOneInput) and its seed corpus in corpus/.
#
# In the normal and sanitizer builds every target becomes a replay program
# (tests/fuzz/replayMain.cpp) and a ctest "fuzz.<name>" that runs every
# corpus file through it. With -DVIREO_FUZZ=ON (clang; scripts/fuzz) each
# becomes a libFuzzer executable fuzz_<name>.
file(GLOB VIREO_FUZZ_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*)
foreach(dir ${VIREO_FUZZ_DIRS})
  if(NOT IS_DIRECTORY ${dir})
    continue()
  endif()
  get_filename_component(name ${dir} NAME)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    continue()
  endif()
  # Targets drive C++ internals and may call exported functions too.
  if(VIREO_FUZZ)
    add_executable(fuzz_${name} ${sources} $<TARGET_OBJECTS:vireo_api>)
    target_link_libraries(fuzz_${name} PRIVATE vireo_internal)
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(fuzz_${name}_replay ${sources} ${CMAKE_CURRENT_LIST_DIR}/replayMain.cpp $<TARGET_OBJECTS:vireo_api>)
    target_link_libraries(fuzz_${name}_replay PRIVATE vireo_internal)
    target_include_directories(fuzz_${name}_replay PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
    add_test(NAME fuzz.${name} COMMAND fuzz_${name}_replay ${dir}/corpus)
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300)
  endif()
endforeach()
