# The SoapySDR back-end against the real library and the stand-in module.
vireo_standin_test(soapy_tests STANDINS soapyStandin SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/soapyLibTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soapyConvertTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soapyRadioTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soapyStreamTest.cpp
  $<TARGET_OBJECTS:vireo_api>)
target_compile_definitions(soapy_tests PRIVATE
  VIREO_SOAPY_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins/soapyStandin")
