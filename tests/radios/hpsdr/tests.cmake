# HPSDR: protocol 1 packets, the UDP endpoint against the board simulator
# (tests/sim/) on loopback port 1024, and the radio object through the C
# interface. Tests that bind the board's port take the lock
# hpsdr_port_1024, so they never run at the same time.
set(VIREO_HPSDR_SIM ${CMAKE_CURRENT_LIST_DIR}/../../sim/udpPeer.cpp ${CMAKE_CURRENT_LIST_DIR}/../../sim/hpsdrP1Sim.cpp)

vireo_internal_test(hpsdr_packet_tests
  ${CMAKE_CURRENT_LIST_DIR}/packetFormatsTest.cpp ${VIREO_HPSDR_SIM})

vireo_internal_test(hpsdr_radio_tests
  ${CMAKE_CURRENT_LIST_DIR}/hpsdrRadioTest.cpp
  $<TARGET_OBJECTS:vireo_api>)

add_executable(hpsdr_endpoint_tests
  ${CMAKE_CURRENT_LIST_DIR}/asyncUdpServerTest.cpp ${VIREO_HPSDR_SIM} $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(hpsdr_endpoint_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(hpsdr_endpoint_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(hpsdr_endpoint_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 RESOURCE_LOCK hpsdr_port_1024)

# Seeds of the packet fuzz target, written from the simulator's builders
# (run by hand: hpsdr_p1_fuzz_seeds tests/fuzz/hpsdrP1Packets/corpus).
add_executable(hpsdr_p1_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/writeFuzzSeeds.cpp ${VIREO_HPSDR_SIM})
target_include_directories(hpsdr_p1_fuzz_seeds PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(hpsdr_p1_fuzz_seeds PRIVATE Boost::headers Threads::Threads)
