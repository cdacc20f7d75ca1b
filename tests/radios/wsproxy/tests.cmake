# The proxy radio runs against a websocket server played by the test itself.
vireo_internal_test(radios_wsproxy_tests
  ${CMAKE_CURRENT_LIST_DIR}/wsProxyTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/proxyServer.cpp)
vireo_host_test(radios_wsproxy_host_tests
  ${CMAKE_CURRENT_LIST_DIR}/wsProxyHostTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/proxyServer.cpp)
target_link_libraries(radios_wsproxy_host_tests PRIVATE Boost::headers)
