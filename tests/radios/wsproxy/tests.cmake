# The proxy radio runs against a websocket server played by the test itself,
# built once for both test programs.
add_library(wsproxy_test_server OBJECT ${CMAKE_CURRENT_LIST_DIR}/proxyServer.cpp)
target_link_libraries(wsproxy_test_server PUBLIC Boost::headers Threads::Threads)

vireo_internal_test(radios_wsproxy_tests
  ${CMAKE_CURRENT_LIST_DIR}/wsProxyTest.cpp
  $<TARGET_OBJECTS:wsproxy_test_server>)
vireo_host_test(radios_wsproxy_host_tests
  ${CMAKE_CURRENT_LIST_DIR}/wsProxyHostTest.cpp
  $<TARGET_OBJECTS:wsproxy_test_server>)
target_link_libraries(radios_wsproxy_host_tests PRIVATE Boost::headers)
