# HPSDR: protocol 1 packets, the UDP endpoint and the radio against the
# board simulator (tests/sim/) on loopback port 1024, and the radio object
# and its engine through the C interface. Tests that bind the board's port
# take the lock hpsdr_port_1024, so they never run at the same time.
set(VIREO_HPSDR_SIM ${CMAKE_CURRENT_LIST_DIR}/../../sim/udpPeer.cpp ${CMAKE_CURRENT_LIST_DIR}/../../sim/hpsdrP1Sim.cpp)

# A test of C++ internals with the C interface and the simulator, run alone
# on the board's port.
function(hpsdr_port_test name)
  add_executable(${name} ${ARGN} ${VIREO_HPSDR_SIM} $<TARGET_OBJECTS:vireo_api>)
  target_link_libraries(${name} PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 RESOURCE_LOCK hpsdr_port_1024)
endfunction()

vireo_internal_test(hpsdr_packet_tests
  ${CMAKE_CURRENT_LIST_DIR}/packetFormatsTest.cpp ${VIREO_HPSDR_SIM})

vireo_internal_test(hpsdr_radio_tests
  ${CMAKE_CURRENT_LIST_DIR}/hpsdrRadioTest.cpp
  $<TARGET_OBJECTS:vireo_api>)

vireo_internal_test(hpsdr_engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/hpsdrEngineTest.cpp ${VIREO_HPSDR_SIM}
  $<TARGET_OBJECTS:vireo_api>)

hpsdr_port_test(hpsdr_endpoint_tests ${CMAKE_CURRENT_LIST_DIR}/asyncUdpServerTest.cpp)
hpsdr_port_test(hpsdr_streaming_tests ${CMAKE_CURRENT_LIST_DIR}/hpsdrStreamingTest.cpp)

# A host that ends with a radio running (hpsdrExitHost.cpp, the public header
# and the shared library only), run as a child process against the board
# simulators by hpsdrExitTest.cpp.
add_executable(hpsdr_exit_host ${CMAKE_CURRENT_LIST_DIR}/hpsdrExitHost.cpp)
target_link_libraries(hpsdr_exit_host PRIVATE vireocore Threads::Threads)
add_executable(hpsdr_exit_tests ${CMAKE_CURRENT_LIST_DIR}/hpsdrExitTest.cpp ${VIREO_HPSDR_SIM}
  ${CMAKE_CURRENT_LIST_DIR}/../../sim/hpsdrP2Sim.cpp)
target_link_libraries(hpsdr_exit_tests PRIVATE GTest::gtest GTest::gtest_main Boost::headers Threads::Threads)
# The library's own headers only for the build's slowdown (support/waitFor.h,
# sim/hpsdrP1Sim.cpp).
target_include_directories(hpsdr_exit_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(hpsdr_exit_tests PRIVATE VIREO_HPSDR_EXIT_HOST="$<TARGET_FILE:hpsdr_exit_host>")
add_dependencies(hpsdr_exit_tests hpsdr_exit_host vireocore)
gtest_discover_tests(hpsdr_exit_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 RESOURCE_LOCK hpsdr_port_1024)

# Seeds of the fuzz targets, written from the simulator's builders (run by
# hand: hpsdr_p1_fuzz_seeds tests/fuzz/hpsdrP1Packets/corpus, and
# hpsdr_p1_fuzz_seeds tests/fuzz/hpsdrP1Receive/corpus receive).
add_executable(hpsdr_p1_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/writeFuzzSeeds.cpp ${VIREO_HPSDR_SIM})
# The library's own headers only for the build's slowdown (sim/hpsdrP1Sim.cpp).
target_include_directories(hpsdr_p1_fuzz_seeds PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(hpsdr_p1_fuzz_seeds PRIVATE Boost::headers Threads::Threads)

# Protocol 2: its packets without a network, and the radio through the C
# interface against the protocol 2 board simulator (ports 1024-1027, 1029,
# 1035 and up on loopback).
vireo_internal_test(hpsdr_np_packet_tests ${CMAKE_CURRENT_LIST_DIR}/npPacketsTest.cpp)

add_executable(hpsdr_np_radio_tests
  ${CMAKE_CURRENT_LIST_DIR}/hpsdrNpRadioTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../../sim/udpPeer.cpp ${CMAKE_CURRENT_LIST_DIR}/../../sim/hpsdrP2Sim.cpp
  $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(hpsdr_np_radio_tests PRIVATE vireo_internal GTest::gtest GTest::gtest_main)
target_include_directories(hpsdr_np_radio_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
gtest_discover_tests(hpsdr_np_radio_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 RESOURCE_LOCK hpsdr_port_1024)

# Seeds of the protocol 2 fuzz target, written from the simulator's builders
# (run by hand: hpsdr_np_fuzz_seeds tests/fuzz/hpsdrP2Packets/corpus).
add_executable(hpsdr_np_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/writeNpFuzzSeeds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../../sim/udpPeer.cpp ${CMAKE_CURRENT_LIST_DIR}/../../sim/hpsdrP2Sim.cpp)
target_include_directories(hpsdr_np_fuzz_seeds PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(hpsdr_np_fuzz_seeds PRIVATE Boost::headers Threads::Threads)
