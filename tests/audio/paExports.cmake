# Checks that the shared library exports PortAudio's whole C interface: the
# 36 Pa_ functions of the linked archive.
#   cmake -DLIBRARY=... -DARCHIVE=... -P paExports.cmake
execute_process(COMMAND nm -D --defined-only "${LIBRARY}" OUTPUT_VARIABLE exported RESULT_VARIABLE rc1)
execute_process(COMMAND nm --defined-only "${ARCHIVE}" OUTPUT_VARIABLE archived RESULT_VARIABLE rc2)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "nm failed")
endif()
string(REGEX MATCHALL " T Pa_[A-Za-z0-9_]+" exported "${exported}")
string(REGEX MATCHALL " T Pa_[A-Za-z0-9_]+" archived "${archived}")
list(LENGTH exported n)
list(LENGTH archived m)
if(NOT n EQUAL 36 OR NOT m EQUAL 36)
  message(FATAL_ERROR "${n} Pa_ functions exported, ${m} in the archive; 36 expected")
endif()
message(STATUS "36 Pa_ functions exported")
