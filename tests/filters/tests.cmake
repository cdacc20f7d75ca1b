vireo_internal_test(filters_test
  ${CMAKE_CURRENT_LIST_DIR}/filterDesign_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lowLatFir_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DownConverter2_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FractionalDownConverter_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/iq_balancer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lsanSuppressions.cpp)
