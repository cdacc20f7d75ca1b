# Runs each kernel test executable with the four-lane bodies forced
# (VIREO_SIMD=baseline), so that the bodies a machine without AVX2 runs stay
# tested on one that has it.
#   cmake -DEXES="a;b;..." -P baselineBodies.cmake
set(failed "")
foreach(exe ${EXES})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env VIREO_SIMD=baseline ${exe} --gtest_brief=1
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(APPEND failed ${exe})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "with VIREO_SIMD=baseline these failed: ${failed}")
endif()
