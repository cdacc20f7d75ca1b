# HPSDR protocol 1: Ep6 decoding against a plain reference loop, and loss
# of the UDP endpoint on loopback against the board simulator of the tests.
vireo_bench(hpsdr_bench
  ${CMAKE_CURRENT_LIST_DIR}/ep6DecodeBench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/endpointLossBench.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/udpPeer.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/hpsdrP1Sim.cpp)
target_include_directories(hpsdr_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
