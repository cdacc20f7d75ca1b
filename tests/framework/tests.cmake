vireo_internal_test(framework_spine_tests
  framework/mpscQueueTest.cpp
  framework/poolAllocTest.cpp
  framework/buffTest.cpp
  framework/inplaceFunctionTest.cpp
  framework/schedulerTest.cpp
  framework/servicesTest.cpp
  support/allocationCounter.cpp)
vireo_internal_test(framework_init_tests framework/initTest.cpp)
vireo_internal_test(framework_exitgate_tests framework/exitGateTest.cpp)
add_dependencies(framework_exitgate_tests soapyStandin) # a SoapySDR device, the module loaded by its path
target_compile_definitions(framework_exitgate_tests PRIVATE VIREO_SOAPY_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins/soapyStandin")
vireo_internal_test(framework_object_tests
  framework/propertyTest.cpp
  framework/collectionTest.cpp
  framework/exportPatternTest.cpp)
vireo_host_test(framework_host_tests framework/objectsHostTest.cpp)
vireo_host_test(framework_preinit_host_tests framework/preInitHostTest.cpp)

# Hosts that end with everything running (exitHost.cpp) or unload the
# library while it runs (unloadHost.cpp), started many times by exitTest.cpp.
add_executable(vireo_exit_host framework/exitHost.cpp)
target_link_libraries(vireo_exit_host PRIVATE vireocore Threads::Threads)
add_executable(vireo_unload_host framework/unloadHost.cpp)
target_link_libraries(vireo_unload_host PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
# The same host on one device radio, on its driver's stand-in. Built from
# the library's objects, for the one test hook that points the SDRplay
# loader at the stand-in in place of an installed library.
add_executable(vireo_exit_device_host framework/exitHost.cpp $<TARGET_OBJECTS:vireo_api>)
target_link_libraries(vireo_exit_device_host PRIVATE vireo_internal Threads::Threads ${CMAKE_DL_LIBS})
target_include_directories(vireo_exit_device_host PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(vireo_exit_device_host PRIVATE VIREO_EXIT_DEVICES=1
  VIREO_SDRPLAY_STANDIN="$<TARGET_FILE:standin_sdrplay>"
  VIREO_SOAPY_STANDIN_DIR="${CMAKE_BINARY_DIR}/standins/soapyStandin")
add_executable(framework_exit_tests framework/exitTest.cpp)
target_link_libraries(framework_exit_tests PRIVATE GTest::gtest GTest::gtest_main)
target_include_directories(framework_exit_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
add_dependencies(framework_exit_tests vireo_exit_host vireo_unload_host vireocore vireo_exit_device_host
  standin_rtlsdr standin_airspy standin_airspyhf standin_sdrplay standin_sdrplay_world soapyStandin)
target_compile_definitions(framework_exit_tests PRIVATE
  VIREO_EXIT_HOST="$<TARGET_FILE:vireo_exit_host>"
  VIREO_EXIT_DEVICE_HOST="$<TARGET_FILE:vireo_exit_device_host>"
  VIREO_STANDINS="${CMAKE_BINARY_DIR}/standins"
  VIREO_UNLOAD_HOST="$<TARGET_FILE:vireo_unload_host>"
  VIREO_LIBRARY="$<TARGET_FILE:vireocore>")
# Under ThreadSanitizer each host keeps about six cores busy while it runs
# (eight radios with three transceivers each; under AddressSanitizer about
# one and a half): ctest counts them, so that the tests running beside one
# are not starved of the real time they rely on.
gtest_discover_tests(framework_exit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 900 PROCESSORS 6)
