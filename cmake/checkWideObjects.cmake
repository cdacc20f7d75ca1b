# Checks that the objects built for AVX2 (*.avx2.cpp) lend no code to the
# rest of the library: every global or weak function they define must be
# their own, named after the AVX2 arch it was built for. An inline function
# or template instance without that in its name could be picked by the
# linker for a baseline caller and run AVX2 instructions on a CPU without
# them. Data (tables, the coefficient arrays) is the same whatever the
# instruction set and is not checked.
#   cmake -DOBJECTS="a.o;b.o;..." -P checkWideObjects.cmake
set(bad "")
set(checked 0)
foreach(o ${OBJECTS})
  if(NOT o MATCHES "\\.avx2\\.cpp\\.o$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND nm -C --defined-only "${o}" OUTPUT_VARIABLE nm RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${o}")
  endif()
  string(REPLACE "\n" ";" lines "${nm}")
  foreach(l ${lines})
    # T: global code, W: weak code (inline functions, template instances).
    if(l MATCHES "^[0-9a-f]+ [TW] (.+)$")
      set(sym "${CMAKE_MATCH_1}")
      if(NOT sym MATCHES "avx")
        list(APPEND bad "${o}: ${sym}")
      endif()
    endif()
  endforeach()
endforeach()
if(checked EQUAL 0)
  message(STATUS "no AVX2 objects in this build")
endif()
if(bad)
  string(REPLACE ";" "\n  " bad "${bad}")
  message(FATAL_ERROR "AVX2 objects define code a baseline caller could be given:\n  ${bad}")
endif()
