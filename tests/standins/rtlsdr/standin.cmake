# librtlsdr stand-ins: the whole library, and one lacking some functions.
vireo_standin(standin_rtlsdr NAME rtlsdr SOVERSION 0
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtlsdrStandin.cpp)
vireo_standin(standin_rtlsdr_partial NAME rtlsdr SOVERSION 0
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/rtlsdrStandin.cpp)
target_compile_definitions(standin_rtlsdr_partial PRIVATE STANDIN_RTLSDR_PARTIAL=1)
