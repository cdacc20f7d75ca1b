# RTL-SDR receivers through the C interface, against the librtlsdr
# stand-in (the whole library, and one lacking some functions), and the
# loader against the system's librtlsdr and against none at all.
vireo_standin_test(rtl_tests STANDINS standin_rtlsdr SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/rtlDiscoveryTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rtlRadioTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rtlStreamTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
vireo_standin_test(rtl_partial_library_tests STANDINS standin_rtlsdr_partial SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/rtlPartialLibraryTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
vireo_internal_test(rtl_library_tests
  ${CMAKE_CURRENT_LIST_DIR}/rtlLoaderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rtlSynthesiserTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rtlTcpRadioTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
