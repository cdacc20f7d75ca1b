# HPSDR protocol 1: Ep6 decoding against a plain reference loop, loss of
# the UDP endpoint on loopback against the board simulator of the tests, and
# the radio's receive path with its loss on loopback.
vireo_bench(hpsdr_bench
  ${CMAKE_CURRENT_LIST_DIR}/ep6DecodeBench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/endpointLossBench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/radioReceiveBench.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/udpPeer.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/hpsdrP1Sim.cpp)
target_include_directories(hpsdr_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)

# HPSDR protocol 2: DDC IQ decoding into receive blocks, and loss of a
# started radio on loopback against the protocol 2 board simulator.
vireo_bench(hpsdr_np_bench
  ${CMAKE_CURRENT_LIST_DIR}/npBench.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/udpPeer.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/hpsdrP2Sim.cpp
  $<TARGET_OBJECTS:vireo_api>)
target_include_directories(hpsdr_np_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests)

# What a SampleRate change does to the IQ of a streaming protocol 1 and 2
# radio, and the memory it leaves (a probe: run alone, on the board's ports).
vireo_bench(hpsdr_rate_probe
  ${CMAKE_CURRENT_LIST_DIR}/rateChangeProbe.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/udpPeer.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/hpsdrP1Sim.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/hpsdrP2Sim.cpp
  $<TARGET_OBJECTS:vireo_api>)
target_include_directories(hpsdr_rate_probe PRIVATE ${PROJECT_SOURCE_DIR}/tests)
