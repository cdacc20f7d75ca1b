vireo_internal_test(framework_spine_tests
  framework/mpscQueueTest.cpp
  framework/poolAllocTest.cpp
  framework/buffTest.cpp
  framework/inplaceFunctionTest.cpp
  framework/schedulerTest.cpp
  framework/servicesTest.cpp
  support/allocationCounter.cpp)
vireo_internal_test(framework_init_tests framework/initTest.cpp)
vireo_internal_test(framework_object_tests
  framework/propertyTest.cpp
  framework/collectionTest.cpp
  framework/exportPatternTest.cpp)
vireo_host_test(framework_host_tests framework/objectsHostTest.cpp)
vireo_host_test(framework_preinit_host_tests framework/preInitHostTest.cpp)
