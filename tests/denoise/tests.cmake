vireo_internal_test(denoise_tests
  ${CMAKE_CURRENT_LIST_DIR}/activationTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rnnLayersTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/modelTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pitchAnalysisTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rnnoiseTest.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/allocationCounter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/noiseReductionTest.cpp)
