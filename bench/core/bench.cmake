vireo_bench(core_chain_bench core/chainBench.cpp)
# Replays a seeded keying history of the tests (a plain main: a seed and a
# count), through the shared library as the test does.
add_executable(keyingHistory
  ${CMAKE_CURRENT_LIST_DIR}/keyingHistoryReplay.cpp
  ${PROJECT_SOURCE_DIR}/tests/core/keyingHistory.cpp
  ${PROJECT_SOURCE_DIR}/tests/core/keyingModel.cpp
  ${PROJECT_SOURCE_DIR}/tests/core/hostView.cpp)
target_link_libraries(keyingHistory PRIVATE vireocore Threads::Threads)
target_include_directories(keyingHistory PRIVATE ${PROJECT_SOURCE_DIR}/tests)
