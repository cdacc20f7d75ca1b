vireo_internal_test(filters_tests
  ${CMAKE_CURRENT_LIST_DIR}/filterDesignTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lowLatFirTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownConverter2Test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FractionalDownConverterTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/iqBalancerTest.cpp)
vireo_internal_test(filters_init_tests ${CMAKE_CURRENT_LIST_DIR}/initCacheTest.cpp)
